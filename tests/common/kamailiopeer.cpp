#include "kamailiopeer.h"

#include <QFile>

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
    for (auto it = subscribers.cbegin(); it != subscribers.cend(); ++it)
        table += QStringLiteral("%1:%2:127.0.0.2:%3:::\n").arg(table.count('\n')).arg(it.key(), it.value());
    QStringList arguments{"-DD", "-E", "-f", path("kamailio.cfg"), "-Y", path("run"), "-P", path("kamailio.pid")};
    for (const QString &name : defines)
        arguments << "-A" << name;
    // The control socket answers once the listeners are bound and the workers run.
    return writeFile(QStringLiteral("kamailio.cfg"), config) && writeFile(QStringLiteral("run/.keep"), QString())
        && writeFile(QStringLiteral("db/version"), "table_name(string) table_version(int)\nsubscriber:7\nlocation:9\n")
        && writeFile(QStringLiteral("db/subscriber"), table) && launch(arguments)
        && waitReady([this] { return ctl({"core.uptime"}).contains("uptime"); }, 15000, QStringLiteral("control socket"));
}
