#include "offscreenphone.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <csignal>


OffscreenPhone::OffscreenPhone()
{
    QDir().mkpath(m_dir.path() + "/tmp");
    QDir().mkpath(m_dir.path() + "/share");
    environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TMPDIR", m_dir.path() + "/tmp");
    environment.insert("XDG_DATA_HOME", m_dir.path() + "/share");
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("LC_ALL", "C.UTF-8");
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

OffscreenPhone::~OffscreenPhone()
{
    kill();
}

bool OffscreenPhone::start(const QString &program)
{
    m_showsAtStart = shows();
    m_process.setProcessEnvironment(environment);
    m_process.start(program, QStringList());
    return m_process.waitForStarted(10000);
}

int OffscreenPhone::shows() const
{
    QFile f(logFile());
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    return f.readAll().count("!!! showEvent");
}

bool OffscreenPhone::waitForWindow(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        if (shows() > m_showsAtStart)
            return true;
        if (!running())
            return false;
        QTest::qWait(20);
    }
    return false;
}

void OffscreenPhone::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(m_process.processId()), SIGKILL);
    m_process.waitForFinished(10000);
}

void OffscreenPhone::terminate()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        kill();
}

qint64 OffscreenPhone::rssKb(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}
