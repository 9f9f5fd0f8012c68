#pragma once

// baresip as an independent far end. It registers its accounts through a
// proxy on 127.0.0.2 (the first answers every call by itself), sends a sine
// tone and records what it receives (sndfile); calls are placed and ended
// through its console module, one UDP datagram a command.

#include "peerprocess.h"

#include <QUdpSocket>

class BaresipPeer : public PeerProcess
{
public:
    BaresipPeer() : PeerProcess(QStringLiteral("baresip")) {}

    // Listens on 127.0.0.1:sipPort and registers user/password at the proxy
    // 127.0.0.2:proxyPort (no registration when proxyPort is 0); `extraAccount`
    // is one more accounts line. Returns once every account is registered.
    bool start(const QString &user, const QString &password, quint16 proxyPort, quint16 sipPort, int toneHz,
               const QString &extraAccount = QString());
    // Registers over TLS with the proxy port given to start() (its TLS
    // listener), trusting the CA file; `mediaEncryption` ("srtp-mand") makes
    // its calls SRTP with SDES keys. Call before start().
    void useTls(const QString &caFile, const QString &mediaEncryption = QString())
    {
        m_caFile = caFile;
        m_mediaEncryption = mediaEncryption;
    }
    // The first account's codecs ("g722/16000/1", "opus/48000/2"; baresip
    // assumes 8000 Hz where none is named). Call before start().
    void useCodecs(const QString &codecs) { m_codecs = codecs; }
    // A console command such as "/dial sip:100@127.0.0.2" or "/hangup"; the
    // newline is what makes baresip act on it.
    void command(const QString &line) const
    {
        QUdpSocket().writeDatagram((line + QLatin1Char('\n')).toUtf8(), QHostAddress(QHostAddress::LocalHost), m_consPort);
    }
    // A key pressed and released in a call (0x04 is baresip's key release):
    // an RFC 4733 event when the call has telephone-event.
    void key(QChar digit) const
    {
        QUdpSocket().writeDatagram((QString(digit) + QChar(4)).toUtf8(), QHostAddress(QHostAddress::LocalHost), m_consPort);
    }
    // Calls `uri` from the account `aor`: baresip otherwise dials from the
    // account that last had a call.
    void dial(const QString &aor, const QString &uri) const
    {
        command(QStringLiteral("/uafind ") + aor);
        command(QStringLiteral("/dial ") + uri);
    }
    // The audio received in the latest call, mono S16LE at `rate` (8000 Hz
    // for G.711, 16000 for G.722 and Opus); empty when none. sndfile writes
    // it when the call object goes, after the hang-up.
    QByteArray received(int *rate = nullptr) const;

private:
    quint16 m_consPort = 0;
    QString m_caFile;
    QString m_mediaEncryption;
    QString m_codecs = QStringLiteral("pcma,pcmu");
};
