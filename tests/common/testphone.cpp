#include "testphone.h"

#include "mainwindow.h"
#include "siptestserver.h"

#include <QCoreApplication>
#include <QFile>
#include <QScopedPointer>
#include <QStandardPaths>

MainWindow *TestPhone::create(const QString &server, const QString &port, const QString &user,
                              const QString &password)
{
    // A fresh database in the test-mode data directory: nothing of an earlier run.
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setApplicationName(QStringLiteral("sorvanto"));
    QFile::remove(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/sorvanto.dat");
    auto *w = new MainWindow(nullptr);
    w->getSettingsDB_();
    // The stored row is what every show loads: keep STUN off the network.
    w->STUN.clear();
    w->sipServerIp = server;
    w->sipServerPort = port;
    w->user = user;
    w->login = user;
    w->password = password;
    w->updateSettingsDB();
    return w;
}

MainWindow *TestPhone::registered(SipTestServer &server, quint16 port)
{
    QScopedPointer<MainWindow> w(create(QStringLiteral("127.0.0.2"), QString::number(port), QStringLiteral("100"),
                                        QStringLiteral("pw")));
    if (!server.listen(QHostAddress(QStringLiteral("127.0.0.2")), port))
        return nullptr;
    w->show();
    return server.waitFor(1) ? w.take() : nullptr;
}
