#include "kamailiopeer.h"

#include "peerprocess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTextStream>
#include <QThread>
#include <QUdpSocket>

KamailioPeer::~KamailioPeer()
{
    stop();
}

bool KamailioPeer::start(const QString &configTemplate, quint16 port, const QMap<QString, QString> &subscribers)
{
    m_port = port;
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary directory for kamailio");
        return false;
    }
    QFile in(configTemplate);
    if (!in.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("cannot read %1").arg(configTemplate);
        return false;
    }
    QString config = QString::fromUtf8(in.readAll());
    config.replace(QLatin1String("@PORT@"), QString::number(port));
    config.replace(QLatin1String("@DIR@"), m_dir.path());
    QFile cfg(m_dir.filePath(QStringLiteral("kamailio.cfg")));
    cfg.open(QIODevice::WriteOnly);
    cfg.write(config.toUtf8());
    cfg.close();

    QDir(m_dir.path()).mkpath(QStringLiteral("db"));
    QDir(m_dir.path()).mkpath(QStringLiteral("run"));
    QFile version(m_dir.filePath(QStringLiteral("db/version")));
    version.open(QIODevice::WriteOnly);
    version.write("table_name(string) table_version(int)\nsubscriber:7\nlocation:9\n");
    version.close();
    QFile table(m_dir.filePath(QStringLiteral("db/subscriber")));
    table.open(QIODevice::WriteOnly);
    table.write("id(int,auto) username(string) domain(string) password(string) "
                "ha1(string,null) ha1b(string,null)\n");
    int id = 1;
    for (auto it = subscribers.cbegin(); it != subscribers.cend(); ++it, ++id)
        table.write(QStringLiteral("%1:%2:127.0.0.2:%3:::\n").arg(id).arg(it.key(), it.value()).toUtf8());
    table.close();

    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("kamailio.log")));
    m_process.start(QStringLiteral("kamailio"),
                    {"-DD", "-E", "-f", cfg.fileName(), "-Y", m_dir.filePath(QStringLiteral("run")),
                     "-P", m_dir.filePath(QStringLiteral("kamailio.pid"))});
    if (!m_process.waitForStarted(5000)) {
        m_error = QStringLiteral("kamailio did not start: %1").arg(m_process.errorString());
        return false;
    }
    const QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        if (m_process.state() != QProcess::Running) {
            m_error = QStringLiteral("kamailio exited: %1").arg(log().right(1500));
            return false;
        }
        if (answers())
            return true;
    }
    m_error = QStringLiteral("kamailio on 127.0.0.2:%1 did not answer OPTIONS within 15 s: %2")
                  .arg(port).arg(log().right(1500));
    stop();
    return false;
}

// An OPTIONS without a user part is answered by the proxy itself.
bool KamailioPeer::answers()
{
    QUdpSocket socket;
    if (!socket.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0))
        return false;
    const QString options = QStringLiteral(
        "OPTIONS sip:127.0.0.2:%1 SIP/2.0\r\n"
        "Via: SIP/2.0/UDP 127.0.0.1:%2;branch=z9hG4bKprobe%3\r\n"
        "From: <sip:probe@127.0.0.1>;tag=probe\r\n"
        "To: <sip:127.0.0.2:%1>\r\n"
        "Call-ID: probe-%3@127.0.0.1\r\n"
        "CSeq: 1 OPTIONS\r\n"
        "Max-Forwards: 70\r\n"
        "Content-Length: 0\r\n\r\n")
        .arg(m_port).arg(socket.localPort()).arg(qint64(QDeadlineTimer::current().deadlineNSecs()));
    socket.writeDatagram(options.toUtf8(), QHostAddress(QStringLiteral("127.0.0.2")), m_port);
    if (!socket.waitForReadyRead(300))
        return false;
    QByteArray reply(int(socket.pendingDatagramSize()), Qt::Uninitialized);
    socket.readDatagram(reply.data(), reply.size());
    return reply.startsWith("SIP/2.0 200");
}

void KamailioPeer::stop()
{
    // It takes about 2 s to wind down its children after SIGTERM.
    if (PeerProcess::stop(m_process, 4000)) {
        // Killed outright, the main process leaves its children behind: end
        // every process started with this instance's private configuration.
        QProcess::execute(QStringLiteral("pkill"), {QStringLiteral("-KILL"), QStringLiteral("-f"), m_dir.path()});
    }
}

QString KamailioPeer::ctl(const QStringList &arguments)
{
    QProcess kamcmd;
    kamcmd.setProcessChannelMode(QProcess::MergedChannels);
    kamcmd.start(QStringLiteral("kamcmd"),
                 QStringList{"-s", "unix:" + m_dir.filePath(QStringLiteral("kamailio_ctl"))} + arguments);
    kamcmd.waitForFinished(5000);
    return QString::fromUtf8(kamcmd.readAll());
}

bool KamailioPeer::isRegistered(const QString &user)
{
    return ctl({"ul.lookup", "location", "s:" + user}).contains(QLatin1String("Contact"), Qt::CaseInsensitive);
}

QString KamailioPeer::log() const
{
    QFile file(m_dir.filePath(QStringLiteral("kamailio.log")));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}
