#ifndef STUNSERVER_H
#define STUNSERVER_H

// A real STUN server for tests: coturn's turnserver in STUN-only mode on
// 127.0.0.1 and a free port, up once it answers a Binding Request, stopped by PID.

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

class StunServer
{
public:
    StunServer() = default;
    ~StunServer();
    StunServer(const StunServer &) = delete;
    StunServer &operator=(const StunServer &) = delete;

    // Starts the server and waits until it answers; on failure returns false
    // and says why in errorString().
    bool start();
    void stop();

    quint16 port() const { return m_port; }
    QString url() const;
    QString errorString() const { return m_error; }

private:
    bool answers();

    QProcess m_process;
    QTemporaryDir m_dir;
    quint16 m_port = 0;
    QString m_error;
};

#endif // STUNSERVER_H
