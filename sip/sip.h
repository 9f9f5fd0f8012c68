#ifndef SIP_H
#define SIP_H

// The SIP user agent: owns the UDP transport and the message parser/builder,
// queues datagrams in both directions and takes the user interface's commands.

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>

class Audio;
class MainWindow;
class QTimer;
class SipPacket;
class SipParser;
class SipRequest;
class SipTransactions;
class UDPSipSocket;

class Sip : public QObject
{
    Q_OBJECT

public:
    explicit Sip(Audio *audio);
    ~Sip() override;

    int sipPort = 5060;
    UDPSipSocket *socket = nullptr;
    Audio *audio = nullptr;
    MainWindow *mainWindow = nullptr;
    SipParser *parser = nullptr;
    bool registered = false;
    // Expiry the registrar granted to the last registration, in seconds (0:
    // none yet), and when to refresh it.
    int grantedExpiry = 0;
    int refreshSeconds() const;
    SipTransactions *transactions = nullptr;
    QList<QByteArray> rxQueue;
    QMutex rxMutex;
    QList<QByteArray> txQueue;
    QMutex txMutex;

    void initSession();
    void bindSocket();
    void send(QString text);
    void msgTransmiter();
    void msgReceiver();
    // Sends a request of ours within its client transaction.
    void sendRequest(SipRequest *msg);
    // Starts the keep-alive (RFC 5626 3.5.1) at the `keepAlive` setting.
    void startKeepAlive();

    // Command interface of the user interface: "register", "invite",
    // "answer", "disconnect" (exact match; anything else is ignored).
    void sendSipMsg(QString command);
    void registration();
    void callOut();
    void answer();
    void disconnect();

signals:
    void msgTransmiterSignal();
    void msgReceiverSignal();

public slots:
    void msgTransmiterSlot();
    void msgReceiverSlot();

private:
    friend class SipTransactions;
    void queue(const QString &text);
    void transmit(SipRequest *msg, const QString &text);
    void keepAliveSlot();
    QTimer *keepAliveTimer = nullptr;
};

#endif // SIP_H
