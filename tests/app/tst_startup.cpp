// Start-up as the user sees it: the title names the stored user after the first
// show, and a second copy of the real program shows the exact warning and exits
// with 1 while the first copy runs on.
#include "mainwindow.h"
#include "privatedatadir.h"
#include "sqlpeek.h"
#include "testmain.h"
#include "xvfbserver.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TstStartup : public QObject
{
    Q_OBJECT

private slots:
    void titleNamesUser_data();
    void titleNamesUser();
    void secondCopyRefused();
};

void TstStartup::titleNamesUser_data()
{
    QTest::addColumn<QString>("user");
    QTest::newRow("configured") << "201";
    QTest::newRow("not configured") << "";
}

void TstStartup::titleNamesUser()
{
    QFETCH(QString, user);
    PrivateDataDir dir;
    { MainWindow w; }
    QVERIFY(SqlPeek(dir.databaseFile()).exec("UPDATE settings SET user=? WHERE id=1", {user}));

    MainWindow w;
    w.show();
    QCOMPARE(w.windowTitle(), "Sorvanto - " + user);
}

void TstStartup::secondCopyRefused()
{
    const QByteArray warning = "Приложение уже запущено и находится в системном трее Windows.";
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", tmp.path());
    env.insert("XDG_DATA_HOME", tmp.path() + "/share");
    env.insert("LC_ALL", "C.UTF-8");
    env.insert("QT_QPA_PLATFORM", "offscreen");

    QProcess first;
    first.setProcessEnvironment(env);
    first.start(SORVANTO_EXECUTABLE, QStringList());
    QVERIFY2(first.waitForStarted(), qPrintable(first.errorString()));
    // The first copy holds the lock once its window exists, which its log
    // shows by the session separator.
    const QString log = tmp.path() + "/share/sorvanto/log.txt";
    auto logged = [&log]() {
        QFile f(log);
        return f.open(QIODevice::ReadOnly) && f.readAll().contains(QByteArray(53, '-'));
    };
    QTRY_VERIFY_WITH_TIMEOUT(logged() || first.state() == QProcess::NotRunning, 30000);
    QCOMPARE(first.state(), QProcess::Running);

    // The refusal is a modal box: show it on a real X server so a key can close it.
    XvfbServer x;
    QVERIFY2(x.start(), qPrintable(x.errorString()));
    QProcess second;
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("DISPLAY", x.display());
    second.setProcessEnvironment(env);
    second.start(SORVANTO_EXECUTABLE, QStringList());
    QVERIFY2(second.waitForStarted(), qPrintable(second.errorString()));

    QByteArray err;
    QTRY_VERIFY_WITH_TIMEOUT((err += second.readAllStandardError()).contains(warning)
                                 || second.state() == QProcess::NotRunning, 30000);
    QVERIFY2(err.contains(warning), err.constData());
    QCOMPARE(second.state(), QProcess::Running); // the box waits for the user

    QString window;
    QVERIFY2(x.xdotool({"search", "--sync", "--onlyvisible", "--pid", QString::number(second.processId())}, &window),
             "the warning box did not appear");
    window = window.split('\n').first();
    QVERIFY(x.xdotool({"windowfocus", "--sync", window}));
    QVERIFY(x.xdotool({"key", "Return"}));

    QVERIFY(second.waitForFinished(15000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 1);

    QCOMPARE(first.state(), QProcess::Running);
    QVERIFY(QFile::exists(tmp.path() + "/sorvanto.lock"));
    first.kill();
    first.waitForFinished(5000);
}

SORVANTO_TEST_MAIN(TstStartup)
#include "tst_startup.moc"
