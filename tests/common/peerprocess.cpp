#include "peerprocess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QUdpSocket>
#include <QtEndian>

#include <csignal>

namespace {

// The direct children of `pid`, from /proc/<n>/stat (field 4 is the parent).
QList<qint64> childrenOf(qint64 pid)
{
    QList<qint64> children;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!entry.at(0).isDigit() || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields.at(1).toLongLong() == pid)
            children << entry.toLongLong();
    }
    return children;
}

} // namespace

PeerProcess::~PeerProcess()
{
    stop(m_process, m_grace);
}

void PeerProcess::stop()
{
    stop(m_process, m_grace);
}

bool PeerProcess::stop(QProcess &process, int graceMs)
{
    if (process.state() == QProcess::NotRunning)
        return false;
    const QList<qint64> children = childrenOf(process.processId());
    process.terminate();
    bool killed = false;
    if (!process.waitForFinished(graceMs)) {
        process.kill();
        process.waitForFinished(2000);
        killed = true;
    }
    // Children left behind by a parent that was killed, or that exited first.
    for (qint64 child : children)
        ::kill(pid_t(child), SIGKILL);
    return killed;
}

QString PeerProcess::output() const
{
    QFile file(path(QStringLiteral("output.log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

quint16 PeerProcess::freePort(int span)
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        QUdpSocket first;
        if (!first.bind(QHostAddress(QHostAddress::AnyIPv4), 0))
            return 0;
        const quint16 base = first.localPort();
        if (base > 65535 - span)
            continue;
        bool free = true;
        QList<QUdpSocket *> held;
        for (int i = 1; i < span && free; ++i) {
            held << new QUdpSocket;
            free = held.last()->bind(QHostAddress(QHostAddress::AnyIPv4), quint16(base + i));
        }
        qDeleteAll(held);
        if (free)
            return base;
    }
    return 0;
}

bool PeerProcess::udpBound(const QHostAddress &address, quint16 port)
{
    QFile table(QStringLiteral("/proc/net/udp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    // Local addresses are written as little-endian hex "0200007F:13C4".
    const QByteArray wanted = QStringLiteral(" %1:%2 ")
                                  .arg(qFromBigEndian(address.toIPv4Address()), 8, 16, QLatin1Char('0'))
                                  .arg(port, 4, 16, QLatin1Char('0'))
                                  .toUpper()
                                  .toLatin1();
    return table.readAll().contains(wanted);
}

bool PeerProcess::writeFile(const QString &name, const QString &text)
{
    QDir(m_dir.path()).mkpath(QFileInfo(path(name)).path());
    QFile file(path(name));
    if (file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) == text.toUtf8().size())
        return true;
    return fail(QStringLiteral("cannot write %1").arg(file.fileName()));
}

bool PeerProcess::launch(const QStringList &arguments, bool pipeStdout)
{
    if (!m_dir.isValid())
        return fail(QStringLiteral("no temporary directory for ") + m_program);
    m_process.setWorkingDirectory(m_dir.path());
    m_process.setProcessChannelMode(pipeStdout ? QProcess::SeparateChannels : QProcess::MergedChannels);
    if (pipeStdout)
        m_process.setStandardErrorFile(path(QStringLiteral("output.log")), QIODevice::Append);
    else
        m_process.setStandardOutputFile(path(QStringLiteral("output.log")), QIODevice::Append);
    m_process.start(m_program, arguments);
    if (!m_process.waitForStarted(5000))
        return fail(QStringLiteral("%1 did not start (is it installed?): %2").arg(m_program, m_process.errorString()));
    return true;
}

bool PeerProcess::waitFor(const std::function<bool()> &condition, int ms, int stepMs)
{
    const QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(stepMs);
    }
    return true;
}

bool PeerProcess::waitReady(const std::function<bool()> &ready, int ms, const QString &what)
{
    if (waitFor([&] { return !running() || ready(); }, ms) && running())
        return true;
    const QString state = running() ? QStringLiteral("no %1 within %2 ms").arg(what).arg(ms)
                                    : QStringLiteral("exited before %1").arg(what);
    stop();
    return fail(QStringLiteral("%1: %2:\n%3").arg(m_program, state, output().right(2000)));
}

bool PeerProcess::fail(const QString &why)
{
    m_error = why;
    return false;
}
