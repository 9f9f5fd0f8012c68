#pragma once

// The base of every program a test starts as a peer (Kamailio, SIPp, baresip,
// coturn, Xvfb, PulseAudio streams, the phone itself): a private directory for
// its configuration and output, free ports, a wait for readiness that fails
// with the program's output, and a stop by PID that also ends its children.

#include <QHostAddress>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

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
    static QByteArray read(const QString &file, qint64 from = 0);
    QString errorString() const { return m_error; }

    // A UDP port free on every address.
    static quint16 freePort();
    // True when some socket is bound to exactly this UDP address and port.
    static bool udpBound(const QHostAddress &address, quint16 port);
    // Polls `condition` every stepMs, serving the event loop, until it holds
    // or `ms` pass; returns the last result.
    static bool waitFor(const std::function<bool()> &condition, int ms, int stepMs = 50);
    // Runs a short tool (xdotool, kamcmd, pactl) with extra environment;
    // true when it exited 0 within `ms`, with its standard output in *output.
    static bool runTool(const QString &program, const QStringList &arguments, QString *output = nullptr,
                        const QMap<QString, QString> &environment = {}, int ms = 10000);
    // Stops any process by PID as stop() does; true when it had to be killed.
    static bool stop(QProcess &process, int graceMs = 3000);

protected:
    explicit PeerProcess(const QString &program, int graceMs = 3000) : m_program(program), m_grace(graceMs) {}

    QString path(const QString &name) const { return m_dir.filePath(name); }
    bool writeFile(const QString &name, const QByteArray &bytes = QByteArray());
    // Starts the program in its directory; `pipeStdout` keeps stdout for
    // reading (data, or a display number) and sends only stderr to output().
    bool launch(const QStringList &arguments, bool pipeStdout = false);
    // Polls `ready` until it holds; false (with the output in errorString())
    // when the program exits first or `ms` pass.
    bool waitReady(const std::function<bool()> &ready, int ms, const QString &what);
    bool fail(const QString &why) { m_error = why; return false; }

    QString m_program;
    int m_grace;
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_error;
};
