#pragma once

// baresip as an independent far end. It registers its accounts through a
// proxy on 127.0.0.2 (the first answers every call by itself), sends a sine
// tone and records what it receives (sndfile); calls are placed and ended
// through its console module, one UDP datagram a command.

#include "peerprocess.h"
#include "tone.h"

#include <QDir>
#include <QUdpSocket>

class BaresipPeer : public FarPhone
{
public:
    BaresipPeer() : FarPhone("baresip", "Call established", "session closed|terminate call", "received event: '(.)' \\(end=0\\)") {}

    // Listens on 127.0.0.1:sipPort and registers user/password at the proxy
    // 127.0.0.2:proxyPort (no registration when proxyPort is 0); `extraAccount`
    // is one more accounts line. Returns once every account is registered.
    bool start(const QString &user, const QString &password, quint16 proxyPort, quint16 sipPort, int toneHz,
               const QString &extraAccount = QString())
    {
        m_consPort = freePort();
        // "lo" as net_interface fails; the address works. ausine wants 48 kHz
        // stereo and baresip resamples it for the codec. aubridge,nil discards what
        // it plays, sndfile keeps both directions as WAV files.
        QString config = QStringLiteral("sip_listen 127.0.0.1:%1\nnet_interface 127.0.0.1\n"
                                              "audio_source ausine,%2\nausrc_srate 48000\nausrc_channels 2\n"
                                              "audio_player aubridge,nil\nrtp_ports 40000-40999\n"
                                              "module_path /usr/lib/baresip/modules\n"
                                              "module g711.so\nmodule g722.so\nmodule opus.so\nmodule ausine.so\nmodule aubridge.so\nmodule sndfile.so\n"
                                              "module account.so\nmodule menu.so\nmodule cons.so\n"
                                              "cons_listen 127.0.0.1:%3\nsnd_path %4\n")
                                   .arg(sipPort).arg(toneHz).arg(m_consPort).arg(path(QStringLiteral("snd")))
            + (m_caFile.isEmpty() ? QString() : QStringLiteral("sip_cafile %1\n").arg(m_caFile));
        // The accounts are read when account.so loads: the media encryption must be there first.
        if (!m_mediaEncryption.isEmpty())
            config.replace(QLatin1String("module account.so"), QLatin1String("module srtp.so\nmodule account.so"));
        QString account = QStringLiteral("<sip:%1@127.0.0.2>;auth_user=%1;auth_pass=%2;answermode=auto;"
                                         "audio_codecs=%3")
                              .arg(user, password, m_codecs);
        if (!m_mediaEncryption.isEmpty())
            account += QStringLiteral(";mediaenc=") + m_mediaEncryption;
        account += proxyPort ? QStringLiteral(";outbound=\"sip:127.0.0.2:%1;transport=%2\"\n")
                                   .arg(proxyPort).arg(m_caFile.isEmpty() ? "udp" : "tls")
                             : QStringLiteral(";regint=0\n");
        if (!extraAccount.isEmpty())
            account += extraAccount + QLatin1Char('\n');
        // The log grows across restarts: count the registrations of this one.
        const int registrations = count(QStringLiteral("200 OK")) + (proxyPort ? account.count(QLatin1String("outbound=")) : 0);
        return writeFile(QStringLiteral("config"), config.toUtf8()) && writeFile(QStringLiteral("accounts"), account.toUtf8())
            && writeFile(QStringLiteral("snd/.keep")) && launch({"-f", m_dir.path(), "-t", "600"})
            && waitReady([&] {
                   return count(QStringLiteral("200 OK")) >= registrations
                       && udpBound(QHostAddress(QHostAddress::LocalHost), m_consPort);
               }, 10000, QStringLiteral("registration"));
    }
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
    void act(const QString &action) override { command(QLatin1Char('/') + action); }
    // A key pressed and released in a call (0x04 is baresip's key release):
    // an RFC 4733 event when the call has telephone-event.
    void key(QChar digit) const
    {
        QUdpSocket().writeDatagram((QString(digit) + QChar(4)).toUtf8(), QHostAddress(QHostAddress::LocalHost), m_consPort);
    }
    // Calls `uri` from the account `from`: baresip otherwise dials from the
    // account that last had a call.
    void dial(const QString &uri, const QString &from) override
    {
        command(QStringLiteral("/uafind ") + from);
        command(QStringLiteral("/dial ") + uri);
    }
    // The audio received in the latest call, mono S16LE at `rate` (8000 Hz
    // for G.711, 16000 for G.722 and Opus); empty when none. sndfile writes
    // it when the call object goes, after the hang-up.
    QByteArray received(int *rate = nullptr) const override
    {
        // The decoder side of the newest call: "dump-<time>-dec.wav".
        QDir snd(path(QStringLiteral("snd")));
        return Tone::fromWav(read(snd.filePath(snd.entryList({"*-dec.wav"}, QDir::Files, QDir::Name | QDir::Reversed).value(0))), rate);
    }

private:
    quint16 m_consPort = 0;
    QString m_caFile;
    QString m_mediaEncryption;
    QString m_codecs = QStringLiteral("pcma,pcmu");
};
