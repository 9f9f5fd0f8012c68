#ifndef SIPPPEER_H
#define SIPPPEER_H

// A real SIPp instance for tests: one scenario file, its own SIP, media and
// control ports, up once its SIP port is bound, stopped by PID.

#include <QHostAddress>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class SippPeer
{
public:
    SippPeer() = default;
    ~SippPeer();
    SippPeer(const SippPeer &) = delete;
    SippPeer &operator=(const SippPeer &) = delete;

    // Runs `sipp -sf scenario` on address:port towards `remote` (may be empty
    // for a pure server), with extra arguments; waits until the port is bound.
    bool start(const QString &scenario, const QString &address, quint16 port, const QString &remote,
               const QStringList &extra = {});
    // Waits for SIPp to end; true when it exited 0 (every call succeeded).
    bool finish(int ms = 20000);
    void stop();

    int exitCode() const { return m_exitCode; }
    QString errorString() const { return m_error; }
    // SIPp's error and message traces, for failure messages.
    QString report() const;
    // True when some socket is bound to exactly this UDP address and port.
    static bool isBound(const QHostAddress &address, quint16 port);

private:
    QProcess m_process;
    QTemporaryDir m_dir;
    QString m_address;
    quint16 m_port = 0;
    int m_exitCode = -1;
    QString m_error;
};

#endif // SIPPPEER_H
