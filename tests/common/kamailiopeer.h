#pragma once

// A real Kamailio registrar and proxy on 127.0.0.2 and a given port, with
// db_text subscribers on domain 127.0.0.2; up once its control socket answers.

#include "peerprocess.h"

#include <QMap>

class KamailioPeer : public PeerProcess
{
public:
    KamailioPeer() : PeerProcess(QStringLiteral("kamailio"), 4000) {}

    // Starts Kamailio with the configuration template (its @PORT@ and @DIR@
    // filled in), the subscribers user -> password and preprocessor defines
    // (`#!ifdef NAME` in the configuration).
    bool start(const QString &configTemplate, quint16 port, const QMap<QString, QString> &subscribers,
               const QStringList &defines = {});
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
    QString log() const { return output(); }
    quint16 port() const { return m_port; }

private:

    quint16 m_port = 0;
};
