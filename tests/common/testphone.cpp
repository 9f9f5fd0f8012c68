#include "testphone.h"

#include "application.h"
#include "siptestserver.h"

#include <QCoreApplication>
#include <QFile>
#include <QScopedPointer>
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

Application *TestPhone::registered(SipTestServer &server, quint16 port)
{
    QScopedPointer<Application> app(create(QStringLiteral("127.0.0.2"), QString::number(port), QStringLiteral("100"),
                                           QStringLiteral("pw")));
    if (!server.listen(QHostAddress(QStringLiteral("127.0.0.2")), port))
        return nullptr;
    app->start();
    return server.waitFor(1) ? app.take() : nullptr;
}
