#ifndef TESTPHONE_H
#define TESTPHONE_H

// The whole phone for GUI tests: fresh database in the test-mode data
// directory, no STUN server, and the account given. Widgets are reached by
// object name.

#include "application.h"

#include <QCoreApplication>
#include <QFile>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>
#include <QWidget>

// A private, empty data directory while it lives: HOME is a fresh temporary directory, under which Qt's
// test-mode paths put the phone's sorvanto.dat and log.txt, whatever XDG_DATA_HOME says.
struct PrivateDataDir {
    QByteArray oldHome = qgetenv("HOME");
    QTemporaryDir home;
    PrivateDataDir() { qputenv("HOME", QFile::encodeName(home.path())), QStandardPaths::setTestModeEnabled(true); }
    ~PrivateDataDir() { qputenv("HOME", oldHome); }
    QString dataPath() const { return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/sorvanto"; }
    QString databaseFile() const { return dataPath() + "/sorvanto.dat"; }
    QString logFile() const { return dataPath() + "/log.txt"; }
};

class TestPhone
{
public:
    // Builds the phone; `server` empty means no account (nothing is registered).
    static Application *create(const QString &server = QString(), const QString &port = QStringLiteral("5060"),
                               const QString &user = QString(), const QString &password = QString())
    {
        // A fresh database in the test-mode data directory: nothing of an earlier run.
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setApplicationName(QStringLiteral("sorvanto"));
        QFile::remove(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/sorvanto.dat");
        auto *app = new Application();
        app->getSettingsDB_();
        // The stored row is what every load reads: keep STUN off the network.
        AccountSettings &s = app->settings;
        s.STUN.clear();
        s.sipServerIp = server;
        s.sipServerPort = port;
        s.user = user;
        s.login = user;
        s.password = password;
        app->updateSettingsDB();
        return app;
    }

    template <class T> static T *widget(QWidget *window, const char *name)
    {
        T *w = window->findChild<T *>(QString::fromLatin1(name));
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }
};

#endif // TESTPHONE_H
