#ifndef ACCOUNTSETTINGS_H
#define ACCOUNTSETTINGS_H

// The account and application settings: one member per column of the
// settings table, named as the column is. The initial values here are the
// defaults, in memory and in the database's first row alike.

#include <QString>

// The scheme and the port are fixed; the host is a public STUN server.
constexpr char kDefaultStunUrl[] = "udp://stun.sipgate.net:3478";

struct AccountSettings
{
    QString account;
    QString sipServerIp;
    QString sipProxyIp;
    QString sipServerPort = QStringLiteral("5060");
    QString user;
    QString domain;
    QString login;
    QString password;
    QString name;
    QString voicemail;
    QString prefix;
    QString plan;
    bool hideCallerId = false;
    QString encryptMedia = QStringLiteral("Отключено");
    QString transport = QStringLiteral("UDP");
    QString publicAddr;
    int registrTimeout = 3600;
    int keepAlive = 15;
    bool publicPresent = false;
    bool enableRewriteIp = false;
    bool ICE = false;
    bool disableSessionTimer = false;
    bool useLog = true;
    QString mediaIp;
    int mediaPort = 60000;
    bool codecPCMA = true;
    bool codecPCMU = true;
    // Wideband is offered after G.711, so a far end that takes G.711 keeps
    // it; one that offers G.722 alone is answered rather than refused.
    bool codecG722 = true;
    bool codecOpus = false;
    // Headset users switch the canceller off.
    bool echoCancel = true;
    bool useSTUN = false;
    QString STUN = QLatin1String(kDefaultStunUrl);
    // A PEM file of CAs trusted for the TLS server besides the system's.
    QString caFile;
};

#endif // ACCOUNTSETTINGS_H
