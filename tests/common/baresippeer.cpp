#include "baresippeer.h"

#include "peerprocess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QtEndian>

BaresipPeer::~BaresipPeer()
{
    stop();
}

bool BaresipPeer::start(const QString &user, const QString &password, quint16 proxyPort, quint16 sipPort, int toneHz)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary directory for baresip");
        return false;
    }
    QDir(m_dir.path()).mkpath(QStringLiteral("snd"));
    // "lo" as net_interface fails; the address works. ausine wants 48 kHz
    // stereo and baresip resamples it for G.711. aubridge,nil discards what
    // it plays, sndfile keeps both directions as WAV files.
    const QString config = QStringLiteral("sip_listen 127.0.0.1:%1\n"
                                          "net_interface 127.0.0.1\n"
                                          "audio_source ausine,%2\n"
                                          "ausrc_srate 48000\n"
                                          "ausrc_channels 2\n"
                                          "audio_player aubridge,nil\n"
                                          "rtp_ports 40000-40999\n"
                                          "module_path /usr/lib/baresip/modules\n"
                                          "module g711.so\n"
                                          "module ausine.so\n"
                                          "module aubridge.so\n"
                                          "module sndfile.so\n"
                                          "module account.so\n"
                                          "snd_path %3\n")
                               .arg(sipPort)
                               .arg(toneHz)
                               .arg(m_dir.filePath(QStringLiteral("snd")));
    const QString account = QStringLiteral("<sip:%1@127.0.0.2>;auth_user=%1;auth_pass=%2;"
                                           "outbound=\"sip:127.0.0.2:%3;transport=udp\";"
                                           "answermode=auto;audio_codecs=pcma,pcmu\n")
                                .arg(user, password)
                                .arg(proxyPort);
    for (const auto &file : {qMakePair(QStringLiteral("config"), config), qMakePair(QStringLiteral("accounts"), account)}) {
        QFile out(m_dir.filePath(file.first));
        if (!out.open(QIODevice::WriteOnly)) {
            m_error = QStringLiteral("cannot write the baresip configuration");
            return false;
        }
        out.write(file.second.toUtf8());
    }
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardInputFile(QProcess::nullDevice());
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("baresip.log")));
    m_process.start(QStringLiteral("baresip"), {"-f", m_dir.path(), "-t", "600"});
    if (!m_process.waitForStarted(5000)) {
        m_error = QStringLiteral("baresip could not be started (is baresip-core installed?): ") + m_process.errorString();
        return false;
    }
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (m_process.state() != QProcess::Running) {
            m_error = QStringLiteral("baresip exited: ") + log().right(2000);
            return false;
        }
        const QString text = log();
        if (text.contains(QLatin1String("200 OK")) && text.contains(QLatin1String("binding")))
            return true;
        m_process.waitForFinished(100);
    }
    m_error = QStringLiteral("baresip did not register within 10 s: ") + log().right(2000);
    stop();
    return false;
}

void BaresipPeer::stop()
{
    PeerProcess::stop(m_process);
}

QByteArray BaresipPeer::received() const
{
    // The decoder side of the newest call: "dump-<time>-dec.wav".
    QDir snd(m_dir.filePath(QStringLiteral("snd")));
    const QStringList files = snd.entryList({QStringLiteral("*-dec.wav")}, QDir::Files, QDir::Name);
    if (files.isEmpty())
        return QByteArray();
    QFile file(snd.filePath(files.last()));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    const QByteArray wav = file.readAll();
    // Walk the RIFF chunks to "data"; its size field may still be 0 while
    // the call runs, so take everything after it.
    int pos = 12;
    while (pos + 8 <= wav.size()) {
        const QByteArray id = wav.mid(pos, 4);
        const quint32 size = qFromLittleEndian<quint32>(wav.constData() + pos + 4);
        if (id == "data")
            return wav.mid(pos + 8);
        if (size > quint32(wav.size()))
            break;
        pos += 8 + int(size) + int(size & 1);
    }
    return QByteArray();
}

bool BaresipPeer::callEstablished() const
{
    return log().contains(QLatin1String("Call established"));
}

bool BaresipPeer::callClosed() const
{
    return log().contains(QLatin1String("session closed")) || log().contains(QLatin1String("Call terminated"));
}

QString BaresipPeer::log() const
{
    QFile file(m_dir.filePath(QStringLiteral("baresip.log")));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}
