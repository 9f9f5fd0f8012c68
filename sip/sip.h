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
class SipParser;
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
    QList<QByteArray> rxQueue;
    QMutex rxMutex;
    QList<QByteArray> txQueue;
    QMutex txMutex;

    void initSession();
    void bindSocket();
    void send(QString text);
    void msgTransmiter();
    void msgReceiver();

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
    void queue(const QString &text);
};

#endif // SIP_H
