#ifndef ACCOUNTSETTINGS_H
#define ACCOUNTSETTINGS_H

// The account and application settings: one member per column of the
// settings table, named as the column is.

#include <QString>

struct AccountSettings
{
    QString account;
    QString sipServerIp;
    QString sipProxyIp;
    QString sipServerPort;
    QString user;
    QString domain;
    QString login;
    QString password;
    QString name;
    QString voicemail;
    QString prefix;
    QString plan;
    bool hideCallerId = false;
    QString encryptMedia;
    QString transport;
    QString publicAddr;
    int registrTimeout = 3600;
    int keepAlive = 0;
    bool publicPresent = false;
    bool enableRewriteIp = false;
    bool ICE = false;
    bool disableSessionTimer = false;
    bool useLog = true;
    QString mediaIp;
    int mediaPort = 60000;
    bool codecPCMA = false;
    bool codecPCMU = false;
    bool useSTUN = false;
    QString STUN;
};

#endif // ACCOUNTSETTINGS_H
