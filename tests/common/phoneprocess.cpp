#include "phoneprocess.h"

#include "sqlpeek.h"

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
            return peek.column("SELECT count(*) FROM sqlite_master WHERE name = 'historybox'").value(0).toInt() == 1
                && peek.column("SELECT count(*) FROM settings").value(0).toInt() == 1;
        }, 15000, QStringLiteral("database after the first start"));
        stop();
        if (!created)
            return false;
    }
    SqlPeek peek(databaseFile());
    for (auto it = settings.cbegin(); it != settings.cend(); ++it)
        if (!peek.exec(QStringLiteral("UPDATE settings SET %1 = ? WHERE id = 1").arg(it.key()), {it.value()}))
            return fail(QStringLiteral("cannot set %1").arg(it.key()));
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
    if (m_mainWindow.isEmpty())
        stop();
    return !m_mainWindow.isEmpty() || fail(QStringLiteral("the main window did not appear; log:\n") + log().right(3000));
}

QStringList PhoneProcess::windows(const QString &name) const
{
    QString out;
    xdotool({"search", "--onlyvisible", "--all", "--pid", QString::number(pid()), "--name", name}, &out);
    return out.split('\n', Qt::SkipEmptyParts);
}
