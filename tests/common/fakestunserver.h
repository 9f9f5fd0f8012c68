#ifndef FAKESTUNSERVER_H
#define FAKESTUNSERVER_H

// A scripted STUN server on 127.0.0.1 and a free port, for answers a real
// server never gives. By default it answers like one: a Binding Success with
// the sender's address as XOR-MAPPED-ADDRESS.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QUdpSocket>

class FakeStunServer : public QObject
{
public:
    explicit FakeStunServer(QObject *parent = nullptr);

    QString url() const;

    // Sent back for every request instead of the default answer, each with
    // placeholderId() (wherever it stands at offset 8) swapped for the request's ID.
    QList<QByteArray> answers;
    bool silent = false;
    QList<QByteArray> requests;

    static QByteArray placeholderId() { return QByteArray::fromHex("0102030405060708090a0b0c"); }

private:
    void readPending();

    QUdpSocket m_socket;
};

#endif // FAKESTUNSERVER_H
