#include "fakestunserver.h"

#include <QNetworkDatagram>
#include <QtEndian>

FakeStunServer::FakeStunServer(QObject *parent)
    : QObject(parent)
{
    m_socket.bind(QHostAddress(QHostAddress::LocalHost), 0);
    connect(&m_socket, &QUdpSocket::readyRead, this, &FakeStunServer::readPending);
}

QString FakeStunServer::url() const
{
    return QStringLiteral("udp://127.0.0.1:%1").arg(m_socket.localPort());
}

void FakeStunServer::readPending()
{
    while (m_socket.hasPendingDatagrams()) {
        const QNetworkDatagram request = m_socket.receiveDatagram();
        requests.append(request.data());
        if (silent || request.data().size() < 20)
            continue;
        const QByteArray id = request.data().mid(8, 12);

        QList<QByteArray> out = answers;
        if (out.isEmpty()) {
            uchar p[32] = {};
            qToBigEndian<quint16>(0x0101, p);
            qToBigEndian<quint16>(12, p + 2);
            qToBigEndian<quint32>(0x2112A442, p + 4);
            qToBigEndian<quint16>(0x0020, p + 20);
            qToBigEndian<quint16>(8, p + 22);
            p[25] = 1;
            qToBigEndian<quint16>(quint16(request.senderPort()) ^ 0x2112, p + 26);
            qToBigEndian<quint32>(request.senderAddress().toIPv4Address() ^ 0x2112A442, p + 28);
            out.append(QByteArray(reinterpret_cast<const char *>(p), sizeof p).replace(8, 12, id));
        }
        for (QByteArray answer : qAsConst(out)) {
            if (answer.mid(8, 12) == placeholderId())
                answer.replace(8, 12, id);
            m_socket.writeDatagram(answer, request.senderAddress(), quint16(request.senderPort()));
        }
    }
}
