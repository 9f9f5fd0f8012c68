#include "stunserver.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtEndian>

#include <csignal>
#include <sys/types.h>

namespace {

quint16 freeUdpPort()
{
    QUdpSocket probe;
    if (!probe.bind(QHostAddress(QHostAddress::LocalHost), 0))
        return 0;
    return probe.localPort();
}

} // namespace

StunServer::~StunServer()
{
    stop();
}

QString StunServer::url() const
{
    return QStringLiteral("udp://127.0.0.1:%1").arg(m_port);
}

bool StunServer::start()
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary directory for turnserver");
        return false;
    }
    m_port = freeUdpPort();
    if (m_port == 0) {
        m_error = QStringLiteral("no free UDP port on 127.0.0.1");
        return false;
    }

    const QString log = m_dir.filePath(QStringLiteral("turnserver.log"));
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("turnserver.out")));
    m_process.start(QStringLiteral("turnserver"),
                    {"-n", "--stun-only", "--listening-ip", "127.0.0.1",
                     "--listening-port", QString::number(m_port),
                     "--no-tcp", "--no-tls", "--no-dtls", "--no-cli", "--no-software-attribute",
                     "--pidfile", m_dir.filePath(QStringLiteral("turnserver.pid")),
                     "--log-file", log, "--simple-log"});
    if (!m_process.waitForStarted(5000)) {
        m_error = QStringLiteral("turnserver did not start: %1").arg(m_process.errorString());
        return false;
    }

    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (m_process.state() != QProcess::Running) {
            QFile out(m_dir.filePath(QStringLiteral("turnserver.out")));
            out.open(QIODevice::ReadOnly);
            m_error = QStringLiteral("turnserver exited: %1").arg(QString::fromLocal8Bit(out.readAll().right(800)));
            return false;
        }
        if (answers())
            return true;
    }
    m_error = QStringLiteral("turnserver on 127.0.0.1:%1 did not answer within 10 s").arg(m_port);
    stop();
    return false;
}

// One hand-made Binding Request; any answer with our transaction ID will do.
bool StunServer::answers()
{
    QByteArray request(20, '\0');
    uchar *out = reinterpret_cast<uchar *>(request.data());
    qToBigEndian<quint16>(0x0001, out);
    qToBigEndian<quint32>(0x2112A442, out + 4);
    memcpy(out + 8, "harnessprobe", 12);

    QUdpSocket socket;
    if (socket.writeDatagram(request, QHostAddress::LocalHost, m_port) != request.size())
        return false;
    if (!socket.waitForReadyRead(200))
        return false;
    const QByteArray reply = socket.receiveDatagram().data();
    return reply.size() >= 20 && reply.mid(8, 12) == request.mid(8, 12);
}

void StunServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    const auto pid = static_cast<pid_t>(m_process.processId());
    ::kill(pid, SIGTERM);
    if (!m_process.waitForFinished(3000)) {
        ::kill(pid, SIGKILL);
        m_process.waitForFinished(3000);
    }
}
