#ifndef SIPTESTSERVER_H
#define SIPTESTSERVER_H

// An in-process SIP server stand-in for user-agent tests: a UDP socket on
// 127.0.0.2 and the phone's port (address sharing on both sides), which keeps
// every datagram the phone sends and sends scripted messages back. Over TCP it
// takes the phone's connection, keeps the messages it frames, and writes each
// scripted message in two segments.

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;
class QUdpSocket;

class SipTestServer : public QObject
{
    Q_OBJECT

public:
    explicit SipTestServer(QObject *parent = nullptr);

    // A UDP port that is free on both 127.0.0.1 and 127.0.0.2 right now.
    static quint16 freePort();

    bool listen(const QHostAddress &address, quint16 port);
    bool listenTcp(const QHostAddress &address, quint16 port);

    // Sends one datagram from this socket to the phone: 127.0.0.1 and the same port.
    void send(const QString &text);

    // Waits until at least `count` datagrams have arrived in total, at most `ms`.
    bool waitFor(int count, int ms = 3000);
    // The received datagrams as text.
    QStringList texts() const;
    QString last() const;

    QList<QByteArray> received;

signals:
    void datagramReceived();

private:
    void readPending();

    QUdpSocket *m_socket = nullptr;
    QTcpServer *m_tcp = nullptr;
    QTcpSocket *m_peer = nullptr;
};

#endif // SIPTESTSERVER_H
