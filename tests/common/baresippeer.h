#ifndef BARESIPPEER_H
#define BARESIPPEER_H

// baresip as an independent far end: registers one user through a proxy on
// 127.0.0.2, answers every call by itself, sends a sine tone and records what
// it receives (sndfile) so a test can measure it; stopped by PID.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

class BaresipPeer
{
public:
    BaresipPeer() = default;
    ~BaresipPeer();
    BaresipPeer(const BaresipPeer &) = delete;
    BaresipPeer &operator=(const BaresipPeer &) = delete;

    // Listens on 127.0.0.1:sipPort and registers user/password at the proxy
    // 127.0.0.2:proxyPort; returns once the registration is confirmed.
    bool start(const QString &user, const QString &password, quint16 proxyPort, quint16 sipPort, int toneHz);
    void stop();

    // The audio received in the latest call, 8000 Hz mono S16LE (empty when none).
    QByteArray received() const;
    // True once a call was established / closed, by baresip's console output.
    bool callEstablished() const;
    bool callClosed() const;
    QString log() const;
    QString errorString() const { return m_error; }

private:
    QProcess m_process;
    QTemporaryDir m_dir;
    QString m_error;
};

#endif // BARESIPPEER_H
