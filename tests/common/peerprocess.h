#pragma once

// The base of every program a test starts as a peer (Kamailio, SIPp, baresip,
// coturn, Xvfb, PulseAudio streams, the phone itself): a private directory for
// its configuration and output, free ports, a wait for readiness that fails
// with the program's output, and a stop by PID that also ends its children.

#include <QDeadlineTimer>
#include <QDir>
#include <QHostAddress>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>
#include <QtEndian>

#include <csignal>
#include <functional>

class PeerProcess
{
public:
    virtual ~PeerProcess() { stop(m_process, m_grace); }
    PeerProcess(const PeerProcess &) = delete;
    PeerProcess &operator=(const PeerProcess &) = delete;

    // SIGTERM, SIGKILL after the grace time; then any child still there.
    void stop() { stop(m_process, m_grace); }
    bool running() const { return m_process.state() != QProcess::NotRunning; }
    qint64 pid() const { return m_process.processId(); }
    // What the program wrote (stdout and stderr, or stderr alone when stdout is data).
    QString output() const { return QString::fromUtf8(read(path(QStringLiteral("output.log")))); }
    QString log() const { return output(); }
    // How often the output matches the pattern ("Call established").
    int count(const QString &pattern) const { return output().count(QRegularExpression(pattern)); }
    // A file's contents from byte `from` on; empty when it cannot be read.
    static QByteArray read(const QString &name, qint64 from = 0)
    {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) && file.seek(from) ? file.readAll() : QByteArray();
    }
    QString errorString() const { return m_error; }

    // A UDP port free on every address.
    static quint16 freePort()
    {
        QUdpSocket probe;
        return probe.bind(QHostAddress(QHostAddress::AnyIPv4), 0) ? probe.localPort() : 0;
    }
    // True when some socket is bound to exactly this UDP address and port.
    static bool udpBound(const QHostAddress &address, quint16 port)
    {
        QFile table(QStringLiteral("/proc/net/udp"));
        // Local addresses are written as little-endian hex "0200007F:13C4".
        const QString wanted = QStringLiteral(" %1:%2 ").arg(qFromBigEndian(address.toIPv4Address()), 8, 16, QLatin1Char('0'))
                                   .arg(port, 4, 16, QLatin1Char('0'));
        return table.open(QIODevice::ReadOnly) && table.readAll().contains(wanted.toUpper().toLatin1());
    }
    // Polls `condition` every stepMs, serving the event loop, until it holds
    // or `ms` pass; returns the last result.
    static bool waitFor(const std::function<bool()> &condition, int ms, int stepMs = 50)
    {
        for (const QDeadlineTimer deadline(ms); !condition(); QTest::qWait(stepMs))
            if (deadline.hasExpired())
                return false;
        return true;
    }
    // Runs a short tool (xdotool, kamcmd, pactl) with extra environment;
    // true when it exited 0 within `ms`, with its standard output in *output.
    static bool runTool(const QString &program, const QStringList &arguments, QString *output = nullptr,
                        const QMap<QString, QString> &environment = {}, int ms = 10000)
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
    // Stops any process by PID as stop() does; true when it had to be killed.
    static bool stop(QProcess &process, int graceMs = 3000)
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

protected:
    explicit PeerProcess(const QString &program, int graceMs = 3000) : m_program(program), m_grace(graceMs) {}

    QString path(const QString &name) const { return m_dir.filePath(name); }
    bool writeFile(const QString &name, const QByteArray &bytes = QByteArray())
    {
        QDir(m_dir.path()).mkpath(QFileInfo(path(name)).path());
        QFile file(path(name));
        return (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size())
            || fail(QStringLiteral("cannot write %1").arg(file.fileName()));
    }
    // Starts the program in its directory; `pipeStdout` keeps stdout for
    // reading (data, or a display number) and sends only stderr to output().
    bool launch(const QStringList &arguments, bool pipeStdout = false)
    {
        m_process.setWorkingDirectory(m_dir.path());
        m_process.setProcessChannelMode(pipeStdout ? QProcess::SeparateChannels : QProcess::MergedChannels);
        pipeStdout ? m_process.setStandardErrorFile(path("output.log"), QIODevice::Append)
                   : m_process.setStandardOutputFile(path("output.log"), QIODevice::Append);
        m_process.start(m_program, arguments);
        return m_process.waitForStarted(5000)
            || fail(QStringLiteral("%1 did not start (is it installed?): %2").arg(m_program, m_process.errorString()));
    }
    // Polls `ready` until it holds; false (with the output in errorString())
    // when the program exits first or `ms` pass.
    bool waitReady(const std::function<bool()> &ready, int ms, const QString &what)
    {
        if (waitFor([&] { return !running() || ready(); }, ms) && running())
            return true;
        const QString state = running() ? QStringLiteral("no %1 within %2 ms").arg(what).arg(ms)
                                        : QStringLiteral("exited before %1").arg(what);
        stop();
        return fail(QStringLiteral("%1: %2:\n%3").arg(m_program, state, output().right(2000)));
    }
    bool fail(const QString &why) { m_error = why; return false; }

    QString m_program;
    int m_grace;
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_error;
};

// A far phone driven alike whichever program it is (baresip, linphonec): it calls, hangs up, holds
// and resumes; its log says a call connected or ended, and names each key received.
class FarPhone : public PeerProcess
{
public:
    QString name() const { return m_program; }
    // Calls `uri` from the account `from` (a program with one account ignores it).
    virtual void dial(const QString &uri, const QString &from) = 0;
    // "hangup", "hold" or "resume".
    virtual void act(const QString &action) = 0;
    // The audio received in the latest call, mono S16LE at `rate`; empty when none.
    virtual QByteArray received(int *rate = nullptr) const = 0;
    // Log patterns for a call connected, a call ended and a key received (the key captured).
    const QString connected, ended;
    const QRegularExpression keyReceived;

protected:
    FarPhone(const QString &program, const QString &connected, const QString &ended, const QString &key)
        : PeerProcess(program), connected(connected), ended(ended), keyReceived(key) {}
};
