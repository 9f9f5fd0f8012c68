#pragma once

// A real Kamailio registrar and proxy on 127.0.0.2 and a given port, with
// db_text subscribers on domain 127.0.0.2; up once its control socket answers.

#include "peerprocess.h"

#include <QMap>

class KamailioPeer : public PeerProcess
{
public:
    KamailioPeer() : PeerProcess(QStringLiteral("kamailio"), 4000) {}

    // Adds a TLS listener on 127.0.0.2:port with this certificate and key
    // (defines WITH_TLS) to the next start().
    void enableTls(quint16 port, const QString &certificate, const QString &key)
    {
        m_tls = QStringList{QString::number(port), certificate, key};
    }
    // Starts Kamailio with the configuration template (its @PORT@ and @DIR@
    // filled in, and the TLS listener's @TLSPORT@, @TLSCERT@ and @TLSKEY@) and
    // the subscribers user -> password.
    bool start(const QString &configTemplate, quint16 port, const QMap<QString, QString> &subscribers)
    {
        const QString config = QString::fromUtf8(read(configTemplate))
                                   .replace(QLatin1String("@PORT@"), QString::number(port))
                                   .replace(QLatin1String("@DIR@"), m_dir.path())
                                   .replace(QLatin1String("@TLSPORT@"), m_tls.value(0))
                                   .replace(QLatin1String("@TLSCERT@"), m_tls.value(1))
                                   .replace(QLatin1String("@TLSKEY@"), m_tls.value(2));
        QString table = QStringLiteral("id(int,auto) username(string) domain(string) password(string) "
                                       "ha1(string,null) ha1b(string,null)\n");
        for (auto it = subscribers.cbegin(); it != subscribers.cend(); ++it)
            table += QStringLiteral("%1:%2:127.0.0.2:%3:::\n").arg(table.count('\n')).arg(it.key(), it.value());
        QStringList arguments{"-DD", "-E", "-f", path("kamailio.cfg"), "-Y", path("run"), "-P", path("kamailio.pid")};
        if (!m_tls.isEmpty())
            arguments << "-A" << "WITH_TLS";
        // The control socket answers once the listeners are bound and the workers run.
        return (!config.isEmpty() || fail("cannot read " + configTemplate)) && writeFile(QStringLiteral("kamailio.cfg"), config.toUtf8()) && writeFile(QStringLiteral("run/.keep"))
            && writeFile(QStringLiteral("db/version"), "table_name(string) table_version(int)\nsubscriber:7\nlocation:9\n")
            && writeFile(QStringLiteral("db/subscriber"), table.toUtf8()) && launch(arguments)
            && waitReady([this] { return ctl({"core.uptime"}).contains("uptime"); }, 15000, QStringLiteral("control socket"));
    }
    // Runs kamcmd against the control socket and returns its output.
    QString ctl(const QStringList &arguments) const
    {
        QString out;
        runTool(QStringLiteral("kamcmd"), QStringList{"-s", "unix:" + path("kamailio_ctl")} + arguments, &out);
        return out;
    }
    // True once the user has a registered contact.
    bool isRegistered(const QString &user) const
    {
        return ctl({"ul.lookup", "location", "s:" + user}).contains(QLatin1String("Contact"), Qt::CaseInsensitive);
    }

private:
    QStringList m_tls;
};
