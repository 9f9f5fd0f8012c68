#include "testphone.h"

#include "application.h"

#include <QCoreApplication>
#include <QFile>
#include <QStandardPaths>

Application *TestPhone::create(const QString &server, const QString &port, const QString &user,
                               const QString &password)
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
