#include "networkenvironment.h"

#include "accountsettings.h"
#include "stunclient.h"

#include <QDebug>
#include <QHostAddress>
#include <QHostInfo>

namespace {

// A URL is looked up once; the client remembers the last one it used.
bool startLookup(StunClient *client, const QString &url)
{
    if (url.isEmpty() || !client || client->url == url)
        return false;
    client->setStunClient(url);
    client->binding();
    return true;
}

// Stores one STUN lookup's result; `kind` is "S" for the SIP port, "M" for media.
void storeStunResult(const char *kind, const QString &ip, int port, int localPort, QString &stunIp,
                     QString &stunPort, int &stunLocalPort)
{
    stunIp = ip;
    stunPort = QString::number(port);
    stunLocalPort = localPort;
    const QByteArray k(kind);
    if (!stunIp.isEmpty()) {
        qDebug() << ("!!!! MainWindow stunIp" + k + ": ").constData() << stunIp;
        qDebug() << ("!!!! MainWindow stunPort" + k + ": ").constData() << stunPort;
    } else {
        qDebug() << ("!!!! MainWindow stunIp" + k + " stunPort" + k + ": Empty").constData();
    }
    qDebug() << ("!!!! MainWindow stunLocalPort" + k + ": ").constData() << stunLocalPort;
}

} // namespace

NetworkEnvironment::NetworkEnvironment(AccountSettings &settings, QObject *parent)
    : QObject(parent), settings(settings)
{
    stunClientSip = new StunClient(this);
    connect(stunClientSip, &StunClient::updatedStunSignal, this, &NetworkEnvironment::updatedStunClientSipSlot);
    stunClientMedia = new StunClient(this);
    connect(stunClientMedia, &StunClient::updatedStunSignal, this, &NetworkEnvironment::updatedStunClientMediaSlot);
}

void NetworkEnvironment::setIpfromHostName()
{
    qDebug() << "setIpfromHostName: " << settings.sipServerIp;
    sipServerAddr = settings.sipServerIp;
    const QHostInfo info = QHostInfo::fromName(settings.sipServerIp);
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty())
        return;
    // SIP, SDP and STUN here speak IPv4, so an IPv4 address is preferred
    // where the name has both kinds.
    QHostAddress address = info.addresses().first();
    for (const QHostAddress &candidate : info.addresses()) {
        if (candidate.protocol() == QAbstractSocket::IPv4Protocol) {
            address = candidate;
            break;
        }
    }
    qDebug() << "get Ip from host: " << address.toString();
    sipServerAddr = address.toString();
}

bool NetworkEnvironment::isGlobalIp(const QString &ip)
{
    const QHostAddress address(ip);
    bool local = address == QHostAddress(QHostAddress::LocalHost) || address == QHostAddress(QHostAddress::AnyIPv4);
    for (const char *subnet : {"10.0.0.0/8", "172.16.0.0/12", "192.168.0.0/16"})
        local = local || address.isInSubnet(QHostAddress::parseSubnet(QLatin1String(subnet)));
    // Text that is no address, a name that did not resolve, counts as global.
    qDebug() << (local ? "!!!!Local ip: " : "!!!!Global ip: ") << ip;
    return !local;
}

void NetworkEnvironment::checkGlobalIp()
{
    setIpfromHostName();
    if (isGlobalIp(sipServerAddr)) {
        settings.useSTUN = true;
        // media first: its local port becomes the RTP port
        bindStunClientMedia(settings.STUN);
        bindStunClientSip(settings.STUN);
        qDebug() << "server STUN = " << settings.STUN;
        qDebug() << "stun SIP   = " << stunIpS + ":" + stunPortS;
        qDebug() << "stun local SIP = " << stunLocalPortS;
        qDebug() << "stun Media = " << stunIpM + ":" + stunPortM;
        qDebug() << "stun local Media = " << stunLocalPortM;
    } else {
        settings.useSTUN = false;
        clearStunResults();
        // forgotten, so that the next switch to STUN looks up afresh
        stunClientSip->url.clear();
        stunClientMedia->url.clear();
    }
    qDebug() << "useSTUN = " << settings.useSTUN;
}

void NetworkEnvironment::bindStunClientSip(const QString &url)
{
    if (startLookup(stunClientSip, url))
        qDebug() << "!!!! bindStunClientSip url: " << url;
}

void NetworkEnvironment::bindStunClientMedia(const QString &url)
{
    if (startLookup(stunClientMedia, url))
        qDebug() << "!!!! bindStunClientMedia url: " << url;
}

void NetworkEnvironment::clearStunResults()
{
    stunIpS.clear();
    stunPortS.clear();
    stunIpM.clear();
    stunPortM.clear();
    stunLocalPortS = 0;
    stunLocalPortM = 0;
}

QString NetworkEnvironment::getRTPPort() const
{
    // always the port the RTP socket is bound to
    if (stunPortM.isEmpty())
        return QString::number(settings.mediaPort);
    if (stunPortM.toInt() == stunLocalPortM)
        return stunPortM;
    return QString::number(stunLocalPortM);
}

int NetworkEnvironment::rtpBindPort() const
{
    return stunLocalPortM != 0 ? stunLocalPortM : settings.mediaPort;
}

void NetworkEnvironment::updatedStunClientSipSlot(QString ip, int port, int localPort)
{
    qDebug() << "!!!! MainWindow updatedStunClientSipSlot";
    storeStunResult("S", ip, port, localPort, stunIpS, stunPortS, stunLocalPortS);
}

void NetworkEnvironment::updatedStunClientMediaSlot(QString ip, int port, int localPort)
{
    qDebug() << "!!!! MainWindow updatedStunClientMediaSlot";
    storeStunResult("M", ip, port, localPort, stunIpM, stunPortM, stunLocalPortM);
}
