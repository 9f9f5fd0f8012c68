#pragma once

// linphonec (Debian's linphone-cli) as an independent far end with a strict
// SDP parser. It registers one account through the proxy on 127.0.0.2,
// answers calls by itself, plays a sine tone from a WAV file into each call
// and records what it receives; commands go to its standard input, one line
// each, and what it reports (keys received, calls) is read from its output.

#include "peerprocess.h"
#include "tone.h"

#include <QtEndian>

class LinphonePeer : public FarPhone
{
public:
    LinphonePeer() : FarPhone("linphonec", "Call \\d+ with .* connected", "Call \\d+ with .* ended", "Receiving tone (.) from") {}

    // Listens on UDP sipPort and registers user/password at the proxy
    // 127.0.0.2:proxyPort; returns once registered.
    bool start(const QString &user, const QString &password, quint16 proxyPort, quint16 sipPort, int toneHz)
    {
        // No TCP or TLS listeners; the proxy's realm is its domain. linphonec
        // keeps its call database under $HOME, so it gets a home of its own.
        const QString config = QStringLiteral("[sip]\nsip_port=%1\nsip_tcp_port=0\nsip_tls_port=0\ndefault_proxy=0\n"
                                              "[rtp]\naudio_rtp_port=%2\n[sound]\nechocancellation=0\n"
                                              "[proxy_0]\nreg_proxy=<sip:127.0.0.2:%3;transport=udp>\n"
                                              "reg_identity=sip:%4@127.0.0.2\nreg_expires=3600\nreg_sendregister=1\n"
                                              "[auth_info_0]\nusername=%4\npasswd=%5\ndomain=127.0.0.2\n")
                                   .arg(sipPort).arg(freePort()).arg(proxyPort).arg(user, password);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
        m_process.setProcessEnvironment(env);
        // The files take the place of sound cards: one minute of tone out (a mono 16-bit WAV file), the call in.
        const QByteArray pcm = Tone::sine(toneHz, 0.3, 60 * 8000);
        QByteArray wav("RIFF....WAVEfmt \x10\0\0\0\1\0\1\0....\0\0\0\0\2\0\x10\0data....", 44);
        for (const auto &[at, value] : {std::pair{4, 36 + pcm.size()}, {24, 8000}, {28, 16000}, {40, pcm.size()}})
            qToLittleEndian(quint32(value), wav.data() + at);
        return writeFile(QStringLiteral("linphonerc"), config.toUtf8()) && writeFile(QStringLiteral("home/.local/share/linphone/.keep"))
            && writeFile(QStringLiteral("tone.wav"), wav + pcm)
            && launch({"-c", path(QStringLiteral("linphonerc")), "-a", "-d", "1"})
            && command(QStringLiteral("soundcard use files")) && command(QStringLiteral("play ") + path(QStringLiteral("tone.wav")))
            && command(QStringLiteral("record ") + path(QStringLiteral("received.wav")))
            && waitReady([&] { return count(QStringLiteral("to \\[LinphoneRegistrationOk\\]")) > 0; }, 10000,
                         QStringLiteral("registration"));
    }
    // A console command such as "call sip:100@127.0.0.2", "terminate",
    // "pause" or "resume".
    bool command(const QString &line)
    {
        const QByteArray text = (line + QLatin1Char('\n')).toUtf8();
        return (m_process.write(text) == text.size() && m_process.waitForBytesWritten(2000))
            || fail(QStringLiteral("linphonec did not take \"%1\"").arg(line));
    }
    void dial(const QString &uri, const QString &) override { command(QStringLiteral("call ") + uri); }
    void act(const QString &action) override { command(action == "hangup" ? "terminate" : action == "hold" ? "pause" : action); }
    // The audio of the latest call, mono S16LE at `rate` (the codec's), once the call ended.
    QByteArray received(int *rate = nullptr) const override
    {
        return Tone::fromWav(read(path(QStringLiteral("received.wav"))), rate);
    }
};
