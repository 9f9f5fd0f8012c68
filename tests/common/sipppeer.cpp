#include "sipppeer.h"

#include "peerprocess.h"

#include "siptestserver.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSignalSpy>
#include <QUdpSocket>
#include <QtEndian>

SippPeer::~SippPeer()
{
    stop();
}

bool SippPeer::start(const QString &scenario, const QString &address, quint16 port, const QString &remote,
                     const QStringList &extra)
{
    m_address = address;
    m_port = port;
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary directory for sipp");
        return false;
    }
    // SIPp's media takes four ports from -mp on; the control port must lie
    // outside them, and all must differ from each other.
    quint16 mediaPort = 0, controlPort = 0;
    while (mediaPort == 0 || (controlPort >= mediaPort && controlPort <= mediaPort + 4) || controlPort == port
           || (port >= mediaPort && port <= mediaPort + 4)) {
        QUdpSocket media, control;
        media.bind(QHostAddress(QHostAddress::LocalHost), quint16(0));
        control.bind(QHostAddress(QHostAddress::LocalHost), quint16(0));
        mediaPort = media.localPort();
        controlPort = control.localPort();
    }
    QStringList arguments{"-sf", scenario, "-i", address, "-p", QString::number(port),
                          "-mp", QString::number(mediaPort), "-cp", QString::number(controlPort),
                          "-m", "1", "-nostdin", "-timeout", "30s", "-timeout_error",
                          "-trace_err", "-error_file", m_dir.filePath(QStringLiteral("errors.log")),
                          "-trace_msg", "-message_file", m_dir.filePath(QStringLiteral("messages.log"))};
    arguments += extra;
    if (!remote.isEmpty())
        arguments << remote;
    m_process.setWorkingDirectory(m_dir.path());
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("screen.log")));
    m_process.start(QStringLiteral("sipp"), arguments);
    if (!m_process.waitForStarted(5000)) {
        m_error = QStringLiteral("sipp did not start: %1").arg(m_process.errorString());
        return false;
    }
    // Ready once the kernel lists its socket; probing by binding the port
    // ourselves would race with SIPp's own bind.
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (m_process.state() != QProcess::Running) {
            m_error = QStringLiteral("sipp exited with %1: %2").arg(m_process.exitCode()).arg(report());
            return false;
        }
        if (isBound(QHostAddress(address), port))
            return true;
        m_process.waitForFinished(50);
    }
    m_error = QStringLiteral("sipp did not bind %1:%2 within 10 s").arg(address).arg(port);
    stop();
    return false;
}

bool SippPeer::isBound(const QHostAddress &address, quint16 port)
{
    QFile table(QStringLiteral("/proc/net/udp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    // Local addresses are written as little-endian hex "0200007F:13C4".
    const quint32 ip = address.toIPv4Address();
    const QByteArray wanted = QStringLiteral("%1:%2")
                                  .arg(qFromBigEndian(ip), 8, 16, QLatin1Char('0'))
                                  .arg(port, 4, 16, QLatin1Char('0'))
                                  .toUpper()
                                  .toLatin1();
    const QList<QByteArray> lines = table.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 1 && fields.at(1) == wanted)
            return true;
    }
    return false;
}

bool SippPeer::finish(int ms)
{
    if (m_process.state() != QProcess::NotRunning) {
        QSignalSpy spy(&m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
        if (!spy.wait(ms)) {
            m_error = QStringLiteral("sipp did not finish within %1 ms: %2").arg(ms).arg(report());
            stop();
            return false;
        }
    }
    m_exitCode = m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    if (m_exitCode != 0)
        m_error = QStringLiteral("sipp exited with %1: %2").arg(m_exitCode).arg(report());
    return m_exitCode == 0;
}

void SippPeer::stop()
{
    PeerProcess::stop(m_process);
}

QString SippPeer::report() const
{
    QString text;
    for (const char *name : {"errors.log", "messages.log", "screen.log"}) {
        QFile file(m_dir.filePath(QLatin1String(name)));
        if (file.open(QIODevice::ReadOnly))
            text += QStringLiteral("\n--- %1 ---\n%2").arg(QLatin1String(name),
                                                          QString::fromUtf8(file.readAll().right(3000)));
    }
    return text;
}
