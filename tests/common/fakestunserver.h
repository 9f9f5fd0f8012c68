#ifndef FAKESTUNSERVER_H
#define FAKESTUNSERVER_H

// A STUN server that never answers: a UDP socket on 127.0.0.1 and a free port
// that keeps every request it gets. Real answers come from coturn (StunServer).

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QUdpSocket>

class FakeStunServer : public QObject
{
public:
    explicit FakeStunServer(QObject *parent = nullptr);

    QString url() const { return QStringLiteral("udp://127.0.0.1:%1").arg(m_socket.localPort()); }

    QList<QByteArray> requests;

private:
    QUdpSocket m_socket;
};

#endif // FAKESTUNSERVER_H
