#include "kamailiopeer.h"

#include <QDateTime>
#include <QFile>
#include <QUdpSocket>

bool KamailioPeer::start(const QString &configTemplate, quint16 port, const QMap<QString, QString> &subscribers,
                         const QStringList &defines)
{
    m_port = port;
    QFile in(configTemplate);
    if (!in.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1").arg(configTemplate));
    const QString config = QString::fromUtf8(in.readAll())
                               .replace(QLatin1String("@PORT@"), QString::number(port))
                               .replace(QLatin1String("@DIR@"), m_dir.path());
    QString table = QStringLiteral("id(int,auto) username(string) domain(string) password(string) "
                                   "ha1(string,null) ha1b(string,null)\n");
    int id = 1;
    for (auto it = subscribers.cbegin(); it != subscribers.cend(); ++it)
        table += QStringLiteral("%1:%2:127.0.0.2:%3:::\n").arg(id++).arg(it.key(), it.value());
    if (!writeFile(QStringLiteral("kamailio.cfg"), config) || !writeFile(QStringLiteral("run/.keep"), QString())
        || !writeFile(QStringLiteral("db/version"), "table_name(string) table_version(int)\nsubscriber:7\nlocation:9\n")
        || !writeFile(QStringLiteral("db/subscriber"), table))
        return false;
    QStringList arguments{"-DD", "-E", "-f", path("kamailio.cfg"), "-Y", path("run"), "-P", path("kamailio.pid")};
    for (const QString &name : defines)
        arguments << "-A" << name;
    return launch(arguments) && waitReady([this] { return answers(); }, 15000, QStringLiteral("answer to OPTIONS"));
}

// An OPTIONS without a user part is answered by the proxy itself.
bool KamailioPeer::answers()
{
    QUdpSocket socket;
    if (!socket.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0))
        return false;
    const QString options = QStringLiteral("OPTIONS sip:127.0.0.2:%1 SIP/2.0\r\n"
                                           "Via: SIP/2.0/UDP 127.0.0.1:%2;branch=z9hG4bKprobe%3\r\n"
                                           "From: <sip:probe@127.0.0.1>;tag=probe\r\nTo: <sip:127.0.0.2:%1>\r\n"
                                           "Call-ID: probe-%3@127.0.0.1\r\nCSeq: 1 OPTIONS\r\n"
                                           "Max-Forwards: 70\r\nContent-Length: 0\r\n\r\n")
                                .arg(m_port).arg(socket.localPort()).arg(QDateTime::currentMSecsSinceEpoch());
    socket.writeDatagram(options.toUtf8(), QHostAddress(QStringLiteral("127.0.0.2")), m_port);
    if (!socket.waitForReadyRead(300))
        return false;
    QByteArray reply(int(socket.pendingDatagramSize()), Qt::Uninitialized);
    socket.readDatagram(reply.data(), reply.size());
    return reply.startsWith("SIP/2.0 200");
}

QString KamailioPeer::ctl(const QStringList &arguments)
{
    QProcess kamcmd;
    kamcmd.setProcessChannelMode(QProcess::MergedChannels);
    kamcmd.start(QStringLiteral("kamcmd"), QStringList{"-s", "unix:" + path("kamailio_ctl")} + arguments);
    kamcmd.waitForFinished(5000);
    return QString::fromUtf8(kamcmd.readAll());
}

bool KamailioPeer::isRegistered(const QString &user)
{
    return ctl({"ul.lookup", "location", "s:" + user}).contains(QLatin1String("Contact"), Qt::CaseInsensitive);
}
