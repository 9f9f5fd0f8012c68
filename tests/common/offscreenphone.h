#ifndef OFFSCREENPHONE_H
#define OFFSCREENPHONE_H

// The real sorvanto binary as a child process for fault tests: offscreen, with
// its own data directory (XDG_DATA_HOME) and temporary directory (the lock
// file), started and killed by PID, its memory read from /proc.

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

class OffscreenPhone
{
public:
    OffscreenPhone();
    ~OffscreenPhone();
    OffscreenPhone(const OffscreenPhone &) = delete;
    OffscreenPhone &operator=(const OffscreenPhone &) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString dataPath() const { return m_dir.path() + "/share/sorvanto"; }
    QString databaseFile() const { return dataPath() + "/sorvanto.dat"; }
    QString logFile() const { return dataPath() + "/log.txt"; }

    // program: SORVANTO_EXECUTABLE, as tests see it.
    bool start(const QString &program);
    // Waits until this start showed its window, which comes after the
    // database is open (the log gains a show line), or the process ended.
    bool waitForWindow(int ms = 30000);
    void kill();      // SIGKILL, then reaps it
    void terminate(); // SIGTERM, SIGKILL after 5 s
    bool running() const { return m_process.state() != QProcess::NotRunning; }
    QByteArray output() { return m_process.readAll(); }

    // How many window shows the log holds.
    int shows() const;
    // Resident set in KiB, from /proc (0 when gone).
    static qint64 rssKb(qint64 pid);

    QProcessEnvironment environment;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_showsAtStart = 0;
};

#endif // OFFSCREENPHONE_H
