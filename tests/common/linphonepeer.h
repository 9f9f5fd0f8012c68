#pragma once

// linphonec (Debian's linphone-cli) as an independent far end with a strict
// SDP parser. It registers one account through the proxy on 127.0.0.2,
// answers calls by itself, plays a sine tone from a WAV file into each call
// and records what it receives; commands go to its standard input, one line
// each, and what it reports (keys received, calls) is read from its output.

#include "peerprocess.h"


class LinphonePeer : public PeerProcess
{
public:
    LinphonePeer() : PeerProcess(QStringLiteral("linphonec")) {}

    // Listens on UDP sipPort and registers user/password at the proxy
    // 127.0.0.2:proxyPort; returns once registered.
    bool start(const QString &user, const QString &password, quint16 proxyPort, quint16 sipPort, int toneHz);
    // A console command such as "call sip:100@127.0.0.2", "terminate",
    // "pause", "resume", or a key ("5") sent in a call.
    bool command(const QString &line);
    void dial(const QString &uri) { command(QStringLiteral("call ") + uri); }
    // The audio of the latest call, mono S16LE at `rate` (the codec's), once the call ended.
    QByteArray received(int *rate = nullptr) const;
};
