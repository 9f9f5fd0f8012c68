#include "phoneprocess.h"

#include "peerprocess.h"

#include "sqlpeek.h"
#include "xvfbserver.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTest>

PhoneProcess::~PhoneProcess()
{
    stop();
}

QProcessEnvironment PhoneProcess::environment(const QString &display) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.path() + QStringLiteral("/data"));
    env.insert(QStringLiteral("TMPDIR"), m_dir.path() + QStringLiteral("/tmp"));
    if (display.isEmpty()) {
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    } else {
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DISPLAY"), display);
    }
    return env;
}

bool PhoneProcess::seed(const QMap<QString, QString> &settings)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary directory for the phone");
        return false;
    }
    if (!QFile::exists(databaseFile())) {
        // A first start creates the database with its default row.
        if (!launch())
            return false;
        const QDeadlineTimer deadline(15000);
        bool created = false;
        while (!created && !deadline.hasExpired() && running()) {
            if (QFile::exists(databaseFile())) {
                SqlPeek peek(databaseFile());
                created = peek.column(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = 'historybox'"))
                              .value(0).toInt() == 1
                    && peek.column(QStringLiteral("SELECT count(*) FROM settings")).value(0).toInt() == 1;
            }
            if (!created)
                m_process.waitForFinished(100);
        }
        stop();
        if (!created) {
            m_error = QStringLiteral("the first start created no database in %1").arg(dataDir());
            return false;
        }
    }
    SqlPeek peek(databaseFile());
    for (auto it = settings.cbegin(); it != settings.cend(); ++it) {
        if (!peek.exec(QStringLiteral("UPDATE settings SET %1 = ? WHERE id = 1").arg(it.key()), {it.value()})) {
            m_error = QStringLiteral("cannot set %1").arg(it.key());
            return false;
        }
    }
    return true;
}

bool PhoneProcess::launch(const QString &display)
{
    QDir(m_dir.path()).mkpath(QStringLiteral("tmp"));
    m_display = display;
    m_process.setProcessEnvironment(environment(display));
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_dir.path() + QStringLiteral("/phone.out"), QIODevice::Append);
    m_process.start(m_executable, QStringList());
    if (!m_process.waitForStarted(5000)) {
        m_error = QStringLiteral("sorvanto did not start: ") + m_process.errorString();
        return false;
    }
    return true;
}

bool PhoneProcess::start(const QString &display)
{
    m_mainWindow.clear();
    if (!launch(display))
        return false;
    // The main window is titled "Sorvanto - " and the user; the other windows
    // carry a blank inside the rest of their titles.
    m_mainWindow = findWindow(QStringLiteral("^Sorvanto - [^ ]*$"), 20000);
    if (m_mainWindow.isEmpty()) {
        m_error = QStringLiteral("the main window did not appear; log:\n") + log().right(3000);
        stop();
        return false;
    }
    return true;
}

void PhoneProcess::stop()
{
    PeerProcess::stop(m_process, 5000);
}

void PhoneProcess::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(10000);
}

QString PhoneProcess::log(qint64 from) const
{
    QFile file(logFile());
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    file.seek(from);
    return QString::fromUtf8(file.readAll());
}

QString PhoneProcess::console() const
{
    QFile file(m_dir.path() + QStringLiteral("/phone.out"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(file.readAll());
}

qint64 PhoneProcess::logSize() const
{
    return QFileInfo(logFile()).size();
}

bool PhoneProcess::waitForLog(const QString &text, int ms, qint64 from) const
{
    const QDeadlineTimer deadline(ms);
    for (;;) {
        if (log(from).contains(text))
            return true;
        if (deadline.hasExpired())
            return false;
        QTest::qWait(50);
    }
}

bool PhoneProcess::xdotool(const QStringList &arguments, QString *output) const
{
    return XvfbServer::xdotoolOn(m_display, arguments, output);
}

// --all: with several conditions xdotool otherwise takes any one of them.
QString PhoneProcess::findWindow(const QString &name, int ms) const
{
    const QDeadlineTimer deadline(ms);
    for (;;) {
        QString out;
        if (xdotool({"search", "--onlyvisible", "--all", "--pid", QString::number(pid()), "--name", name}, &out)) {
            const QString id = out.split('\n', Qt::SkipEmptyParts).value(0).trimmed();
            if (!id.isEmpty())
                return id;
        }
        if (deadline.hasExpired() || !running())
            return QString();
        QTest::qWait(100);
    }
}

bool PhoneProcess::waitWindowGone(const QString &name, int ms) const
{
    const QDeadlineTimer deadline(ms);
    for (;;) {
        QString out;
        if (!xdotool({"search", "--onlyvisible", "--all", "--pid", QString::number(pid()), "--name", name}, &out)
            || out.trimmed().isEmpty())
            return true;
        if (deadline.hasExpired())
            return false;
        QTest::qWait(100);
    }
}

bool PhoneProcess::click(const QString &window, int x, int y) const
{
    // No --sync: it waits for a motion event, which never comes when the
    // pointer is already there (the same key twice).
    return xdotool({"mousemove", "--window", window, QString::number(x), QString::number(y)})
        && xdotool({"click", "1"});
}

bool PhoneProcess::keys(const QString &window, const QStringList &keyNames) const
{
    // No window manager: focus the window directly, then type through XTEST.
    return xdotool({"windowfocus", "--sync", window}) && xdotool(QStringList{"key", "--delay", "30"} + keyNames);
}

QImage PhoneProcess::grab(const QString &window, const QRect &rect) const
{
    QProcess import;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    import.setProcessEnvironment(env);
    import.start(QStringLiteral("import"),
                 {"-window", window, "-crop",
                  QStringLiteral("%1x%2+%3+%4").arg(rect.width()).arg(rect.height()).arg(rect.x()).arg(rect.y()),
                  "png:-"});
    if (!import.waitForFinished(10000)) {
        import.kill();
        import.waitForFinished(2000);
        return QImage();
    }
    return QImage::fromData(import.readAllStandardOutput(), "PNG");
}
