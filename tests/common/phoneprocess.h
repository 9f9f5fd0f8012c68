#pragma once

// The real sorvanto binary as a user starts it: its own data directory
// (XDG_DATA_HOME), temporary directory (the lock file) and X display, with an
// account written into its database before it starts. Its windows are found
// and driven with xdotool. Without a display it runs offscreen.

#include "peerprocess.h"
#include "sqlpeek.h"

#include <QFileInfo>
#include <QMap>

class PhoneProcess : public PeerProcess
{
public:
    // `executable`: the sorvanto binary (SORVANTO_EXECUTABLE in a test).
    explicit PhoneProcess(const QString &executable) : PeerProcess(executable, 5000) {}

    // Creates the database by one short start (offscreen), then writes the
    // given settings columns into its row. On failure see errorString().
    bool seed(const QMap<QString, QString> &settings)
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
    // Starts the phone on `display` and waits until its main window is shown.
    bool start(const QString &display)
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
    // Starts the phone without waiting for anything (offscreen when `display` is empty).
    bool launch(const QString &display = QString())
    {
        QDir(m_dir.path()).mkpath(QStringLiteral("tmp"));
        m_display = display;
        m_process.setProcessEnvironment(environment(display));
        return PeerProcess::launch({});
    }
    // The phone's environment: its data directory, its temporary directory (the lock file) and the display.
    QProcessEnvironment environment(const QString &display) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("data")));
        env.insert(QStringLiteral("TMPDIR"), path(QStringLiteral("tmp")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), display.isEmpty() ? QStringLiteral("offscreen") : QStringLiteral("xcb"));
        env.insert(QStringLiteral("DISPLAY"), display);
        return env;
    }
    void kill() // SIGKILL, then reaps it
    {
        m_process.kill();
        m_process.waitForFinished(10000);
    }

    QString databaseFile() const { return path(QStringLiteral("data/sorvanto/sorvanto.dat")); }
    QString logFile() const { return path(QStringLiteral("data/sorvanto/log.txt")); }

    // The log from byte `from` on (the log only grows during a test).
    QString log(qint64 from = 0) const { return QString::fromUtf8(read(logFile(), from)); }
    qint64 logSize() const { return QFileInfo(logFile()).size(); }
    // Waits until the log after `from` holds `text`; polls the file.
    bool waitForLog(const QString &text, int ms, qint64 from = 0) const
    {
        return waitFor([&] { return log(from).contains(text); }, ms);
    }

    // Runs xdotool on the phone's display; true when it exits 0 within `ms`.
    bool xdotool(const QStringList &arguments, QString *output = nullptr, int ms = 10000) const
    {
        return runTool(QStringLiteral("xdotool"), arguments, output, {{"DISPLAY", m_display}}, ms);
    }
    // The first visible window of this process whose title matches `name`
    // (a regular expression), waiting up to `ms`; empty when none appeared.
    QString findWindow(const QString &name, int ms) const
    {
        QStringList found;
        waitFor([&] { return !(found = windows(name)).isEmpty() || !running(); }, ms, 100);
        return found.value(0);
    }
    // True once no visible window of this process matches `name`.
    bool waitWindowGone(const QString &name, int ms) const
    {
        return waitFor([&] { return windows(name).isEmpty(); }, ms, 100);
    }
    QString mainWindow() const { return m_mainWindow; }
    // A left click at (x, y) inside the window.
    // No --sync: it waits for a motion event, which never comes when the
    // pointer is already there (the same key twice).
    bool click(const QString &window, int x, int y) const
    {
        return xdotool({"mousemove", "--window", window, QString::number(x), QString::number(y)}) && xdotool({"click", "1"});
    }

    // Types the keys (xdotool key names) into the window; no window manager,
    // so the window is focused directly and the keys go through XTEST.
    bool keys(const QString &window, const QStringList &keyNames) const
    {
        return xdotool({"windowfocus", "--sync", window}) && xdotool(QStringList{"key", "--delay", "30"} + keyNames);
    }

private:
    // Visible windows of this process whose title matches; --all: with
    // several conditions xdotool otherwise takes any one of them.
    QStringList windows(const QString &name) const
    {
        QString out;
        xdotool({"search", "--onlyvisible", "--all", "--pid", QString::number(pid()), "--name", name}, &out);
        return out.split('\n', Qt::SkipEmptyParts);
    }

    QString m_display;
    QString m_mainWindow;
};

