#include "phoneprocess.h"

#include "sqlpeek.h"
#include "xvfbserver.h"

#include <QDir>
#include <QFile>
#include <QTest>

bool PhoneProcess::seed(const QMap<QString, QString> &settings)
{
    // A first start creates the database with its default row.
    if (!QFile::exists(databaseFile())) {
        const bool created = launch() && waitReady([this] {
            if (!QFile::exists(databaseFile()))
                return false;
            SqlPeek peek(databaseFile());
            return peek.column(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = 'historybox'")).value(0) == 1
                && peek.column(QStringLiteral("SELECT count(*) FROM settings")).value(0).toInt() == 1;
        }, 15000, QStringLiteral("database after the first start"));
        stop();
        if (!created)
            return false;
    }
    SqlPeek peek(databaseFile());
    for (auto it = settings.cbegin(); it != settings.cend(); ++it) {
        if (!peek.exec(QStringLiteral("UPDATE settings SET %1 = ? WHERE id = 1").arg(it.key()), {it.value()}))
            return fail(QStringLiteral("cannot set %1").arg(it.key()));
    }
    return true;
}

bool PhoneProcess::launch(const QString &display)
{
    QDir(m_dir.path()).mkpath(QStringLiteral("tmp"));
    m_display = display;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("data")));
    env.insert(QStringLiteral("TMPDIR"), path(QStringLiteral("tmp")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), display.isEmpty() ? QStringLiteral("offscreen") : QStringLiteral("xcb"));
    env.insert(QStringLiteral("DISPLAY"), display);
    m_process.setProcessEnvironment(env);
    return PeerProcess::launch({});
}

bool PhoneProcess::start(const QString &display)
{
    m_mainWindow.clear();
    // The main window is titled "Sorvanto - " and the user; the other windows
    // carry a blank inside the rest of their titles.
    if (!launch(display))
        return false;
    m_mainWindow = findWindow(QStringLiteral("^Sorvanto - [^ ]*$"), 20000);
    if (m_mainWindow.isEmpty()) {
        stop();
        return fail(QStringLiteral("the main window did not appear; log:\n") + log().right(3000));
    }
    return true;
}

void PhoneProcess::kill()
{
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

qint64 PhoneProcess::logSize() const
{
    return QFileInfo(logFile()).size();
}

bool PhoneProcess::waitForLog(const QString &text, int ms, qint64 from) const
{
    return waitFor([&] { return log(from).contains(text); }, ms);
}

bool PhoneProcess::xdotool(const QStringList &arguments, QString *output) const
{
    return XvfbServer::xdotoolOn(m_display, arguments, output);
}

// --all: with several conditions xdotool otherwise takes any one of them.
QString PhoneProcess::findWindow(const QString &name, int ms) const
{
    QString id;
    waitFor([&] {
        QString out;
        xdotool({"search", "--onlyvisible", "--all", "--pid", QString::number(pid()), "--name", name}, &out);
        id = out.split('\n', Qt::SkipEmptyParts).value(0).trimmed();
        return !id.isEmpty() || !running();
    }, ms, 100);
    return id;
}

bool PhoneProcess::waitWindowGone(const QString &name, int ms) const
{
    return waitFor([&] {
        QString out;
        return !xdotool({"search", "--onlyvisible", "--all", "--pid", QString::number(pid()), "--name", name}, &out)
            || out.trimmed().isEmpty();
    }, ms, 100);
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
        PeerProcess::stop(import, 0);
        return QImage();
    }
    return QImage::fromData(import.readAllStandardOutput(), "PNG");
}
