#include "peerprocess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QTest>
#include <QUdpSocket>
#include <QtEndian>

#include <csignal>

bool PeerProcess::stop(QProcess &process, int graceMs)
{
    if (process.state() == QProcess::NotRunning)
        return false;
    // Its children, from /proc/<n>/stat (the fourth field is the parent):
    // Kamailio's workers outlive a parent that had to be killed.
    QList<pid_t> children;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        const QByteArray text = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
        if (text.mid(text.lastIndexOf(')') + 2).split(' ').value(1).toLongLong() == process.processId())
            children << pid_t(entry.toInt());
    }
    process.terminate();
    const bool killed = !process.waitForFinished(graceMs);
    if (killed)
        process.kill(), process.waitForFinished(2000);
    for (pid_t child : children)
        ::kill(child, SIGKILL);
    return killed;
}

bool PeerProcess::runTool(const QString &program, const QStringList &arguments, QString *output,
                          const QMap<QString, QString> &environment, int ms)
{
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (auto it = environment.cbegin(); it != environment.cend(); ++it)
        env.insert(it.key(), it.value());
    tool.setProcessEnvironment(env);
    tool.start(program, arguments);
    const bool finished = tool.waitForFinished(ms);
    stop(tool, 0);
    if (output)
        *output = QString::fromUtf8(tool.readAllStandardOutput());
    return finished && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

QByteArray PeerProcess::read(const QString &name, qint64 from)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) && file.seek(from) ? file.readAll() : QByteArray();
}

quint16 PeerProcess::freePort()
{
    QUdpSocket probe;
    return probe.bind(QHostAddress(QHostAddress::AnyIPv4), 0) ? probe.localPort() : 0;
}

bool PeerProcess::udpBound(const QHostAddress &address, quint16 port)
{
    QFile table(QStringLiteral("/proc/net/udp"));
    // Local addresses are written as little-endian hex "0200007F:13C4".
    const QString wanted = QStringLiteral(" %1:%2 ").arg(qFromBigEndian(address.toIPv4Address()), 8, 16, QLatin1Char('0'))
                               .arg(port, 4, 16, QLatin1Char('0'));
    return table.open(QIODevice::ReadOnly) && table.readAll().contains(wanted.toUpper().toLatin1());
}

bool PeerProcess::writeFile(const QString &name, const QByteArray &bytes)
{
    QDir(m_dir.path()).mkpath(QFileInfo(path(name)).path());
    QFile file(path(name));
    return (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size())
        || fail(QStringLiteral("cannot write %1").arg(file.fileName()));
}

bool PeerProcess::launch(const QStringList &arguments, bool pipeStdout)
{
    m_process.setWorkingDirectory(m_dir.path());
    m_process.setProcessChannelMode(pipeStdout ? QProcess::SeparateChannels : QProcess::MergedChannels);
    pipeStdout ? m_process.setStandardErrorFile(path("output.log"), QIODevice::Append)
               : m_process.setStandardOutputFile(path("output.log"), QIODevice::Append);
    m_process.start(m_program, arguments);
    return m_process.waitForStarted(5000)
        || fail(QStringLiteral("%1 did not start (is it installed?): %2").arg(m_program, m_process.errorString()));
}

bool PeerProcess::waitFor(const std::function<bool()> &condition, int ms, int stepMs)
{
    for (const QDeadlineTimer deadline(ms); !condition(); QTest::qWait(stepMs))
        if (deadline.hasExpired())
            return false;
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
