#include "testphone.h"

#include "dialog.h"
#include "dialogout.h"
#include "history.h"
#include "mainwindow.h"
#include "settings.h"
#include "siptestserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QScopedPointer>
#include <QSqlQuery>
#include <QVariant>
#include <QStandardPaths>

void TestPhone::resetData()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setApplicationName(QStringLiteral("sorvanto"));
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QFile::remove(QDir(dir).absoluteFilePath(QStringLiteral("sorvanto.dat")));
}

MainWindow *TestPhone::create(const QString &server, const QString &port, const QString &user,
                              const QString &password)
{
    resetData();
    auto *w = new MainWindow(nullptr);
    if (!w->dialog)
        w->dialog = new Dialog(w);
    if (!w->dialogOut)
        w->dialogOut = new DialogOut(w);
    if (!w->settings)
        w->settings = new Settings(w);
    if (!w->history)
        w->history = new History(w);
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

bool TestPhone::storeSetting(MainWindow *w, const QString &column, const QString &value)
{
    // Straight to the row, without the reload that a save runs.
    QSqlQuery q(w->db);
    q.prepare(QStringLiteral("UPDATE settings SET %1 = ? WHERE id = 1").arg(column));
    q.addBindValue(value);
    return q.exec();
}
