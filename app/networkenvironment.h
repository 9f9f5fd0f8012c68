#ifndef NETWORKENVIRONMENT_H
#define NETWORKENVIRONMENT_H

// Where the phone stands on the network: the SIP server's resolved address,
// whether it is public (then STUN is used), and the STUN results for the SIP
// and the media port. Evaluated once per settings load.

#include <QObject>
#include <QString>

struct AccountSettings;
class StunClient;

class NetworkEnvironment : public QObject
{
    Q_OBJECT

public:
    explicit NetworkEnvironment(AccountSettings &settings, QObject *parent = nullptr);

    // Resolves the server, decides on STUN and runs the lookups it needs.
    void checkGlobalIp();
    void setIpfromHostName();
    static bool isGlobalIp(const QString &ip);
    void bindStunClientSip(const QString &url);
    void bindStunClientMedia(const QString &url);
    // STUN off: no public addresses, no STUN ports.
    void clearStunResults();
    // The port the RTP socket is bound to, as the SDP offers it.
    QString getRTPPort() const;
    // The local port the RTP socket binds: the media STUN client's, else the setting.
    int rtpBindPort() const;

    StunClient *stunClientSip = nullptr;
    StunClient *stunClientMedia = nullptr;

    QString sipServerAddr;
    QString stunIpS;
    QString stunPortS;
    int stunLocalPortS = 0;
    QString stunIpM;
    QString stunPortM;
    int stunLocalPortM = 0;

public slots:
    void updatedStunClientSipSlot(QString ip, int port, int localPort);
    void updatedStunClientMediaSlot(QString ip, int port, int localPort);

private:
    AccountSettings &settings;
};

#endif // NETWORKENVIRONMENT_H
