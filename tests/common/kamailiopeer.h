#ifndef KAMAILIOPEER_H
#define KAMAILIOPEER_H

// A real Kamailio registrar and proxy for tests, on 127.0.0.2 and a given free
// port, with db_text subscribers; up once it answers OPTIONS, stopped by PID.

#include <QMap>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

class KamailioPeer
{
public:
    KamailioPeer() = default;
    ~KamailioPeer();
    KamailioPeer(const KamailioPeer &) = delete;
    KamailioPeer &operator=(const KamailioPeer &) = delete;

    // Starts Kamailio with the configuration template (its @PORT@ and @DIR@
    // filled in) and the subscribers user -> password; on failure returns
    // false and says why in errorString().
    bool start(const QString &configTemplate, quint16 port, const QMap<QString, QString> &subscribers);
    void stop();

    // Runs kamcmd against the control socket and returns its output.
    QString ctl(const QStringList &arguments);
    // True once the user has a registered contact.
    bool isRegistered(const QString &user);
    // Kamailio's own log so far, for failure messages.
    QString log() const;

    quint16 port() const { return m_port; }
    QString errorString() const { return m_error; }

private:
    bool answers();

    QProcess m_process;
    QTemporaryDir m_dir;
    quint16 m_port = 0;
    QString m_error;
};

#endif // KAMAILIOPEER_H
