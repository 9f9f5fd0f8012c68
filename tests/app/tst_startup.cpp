// Start-up and the core's files. The log: one line per message with time stamp,
// level tag and category after the session separator; above 10 MiB it is
// emptied, at exactly 10 MiB appended to; switched off in the settings, silent
// after the load. The database (its schema, default row and the STUN flag
// never loaded: tst_settingsstore): a later start leaves the file alone; any
// text round-trips, the password never reaching the log; recent numbers are
// outgoing only, once each, in text order. Both files are private. A second copy
// of the real program shows the exact warning and exits with 1.
#include "application.h"
#include "mainwindow.h"
#include "phoneprocess.h"
#include "testmain.h"
#include "testphone.h"
#include "xvfbserver.h"

#include <QComboBox>
#include <QtTest>

class TstStartup : public QObject
{
    Q_OBJECT

private slots:
    void log_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::newRow("one byte above 10 MiB: emptied") << qint64(10485761);
        QTest::newRow("exactly 10 MiB: appended to") << qint64(10485760);
    }
    void log()
    {
        QFETCH(qint64, size);
        PrivateDataDir dir;
        QFile old(dir.logFile());
        QVERIFY(QDir().mkpath(dir.dataPath()) && old.open(QIODevice::WriteOnly)
                && old.write(QByteArray(size, 'x')) == size && old.flush());
        Application app;
        for (QtMsgType type : {QtDebugMsg, QtInfoMsg, QtWarningMsg, QtCriticalMsg})
            qt_message_output(type, QMessageLogContext(nullptr, 0, nullptr, "sorvanto.sip"), "marker Привет");
        const QString log = QString::fromUtf8(PeerProcess::read(dir.logFile()));
        QVERIFY(log.startsWith('x') == (size == 10485760) && log.count(QString(53, '-') + "\r\n") == 3);
        for (const char *tag : {"DBG", "INF", "WRN", "CRT"})
            QVERIFY2(log.contains(QRegularExpression(QString("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} %1 "
                                                             "sorvanto.sip: marker Привет\n").arg(tag))), tag);
    }

    void database()
    {
        const QString text = "  O'Brien Иван'); --  ";
        PrivateDataDir dir;
        {
            Application app; // nothing loaded yet: unset texts must still satisfy NOT NULL
            app.getSettingsDB_();
            app.settings.account = text;
            app.settings.password = "pw-" + text;
            app.updateSettingsDB();
        }
        for (const QString &file : {dir.databaseFile(), dir.logFile()})
            QVERIFY(QFile::exists(file) && !(QFile::permissions(file) & (QFile::ReadGroup | QFile::ReadOther)));
        const QByteArray before = PeerProcess::read(dir.databaseFile());
        Application app;
        QCOMPARE(PeerProcess::read(dir.databaseFile()), before);
        app.getSettingsDB_();
        QVERIFY(app.settings.account == text && app.settings.password == "pw-" + text);
        QVERIFY(PeerProcess::read(dir.logFile()).contains("password ***") && !PeerProcess::read(dir.logFile()).contains("pw-"));

        const char *calls[][3] = {{"100", "05.01.2025 10:00:00", "Out"}, {"200", "31.12.2024 10:00:00", "Out"},
                                  {"100", "01.01.2025 08:00:00", "Out"}, {"300", "07.01.2025 10:00:00", "In"},
                                  {"400", "08.01.2025 10:00:00", "Break"}, {"5'00", "01.01.2025 09:00:00", "Out"}};
        for (auto &c : calls) {
            std::tie(app.window->called, app.window->currtime, app.window->info) = std::make_tuple(c[0], c[1], c[2]);
            app.window->setHistoryDB();
        }
        auto *box = app.window->findChild<QComboBox *>("comboBox"); // day first in the text: December leads
        QStringList items;
        for (int i = 0; i < box->count(); ++i)
            items << box->itemText(i);
        QCOMPARE(items, QStringList({"Недавние", "200  ", "100  ", "5'00  "}));
    }

    void switchedOffAfterLoad()
    {
        PrivateDataDir dir;
        { Application app; }
        QVERIFY(SqlPeek(dir.databaseFile()).exec("UPDATE settings SET useLog='false' WHERE id=1"));
        Application app;
        app.start();
        QVERIFY(!app.settings.useLog);
        app.writeLogFile("direct line"); // the load announces itself while the log is still on; after it, silence
        QVERIFY(PeerProcess::read(dir.logFile()).trimmed().endsWith("!!!!! getSettingsDB"));
    }

    void emptyLockTakenOver()
    {
        // What a copy killed while it made its lock file leaves: the file, empty.
        PhoneProcess phone{QStringLiteral(SORVANTO_EXECUTABLE)};
        QFile lock(phone.environment(QString()).value("TMPDIR") + "/sorvanto.lock");
        QVERIFY(QDir().mkpath(QFileInfo(lock).path()) && lock.open(QIODevice::WriteOnly));
        lock.close();
        QVERIFY(phone.launch());
        QTRY_VERIFY_WITH_TIMEOUT(phone.log().contains(QString(53, '-')), 30000);
    }

    void secondCopyRefused()
    {
        XvfbServer x; // the refusal is a modal box: a real X server lets a key close it
        QVERIFY2(x.start(), qPrintable(x.errorString()));
        PhoneProcess first{QStringLiteral(SORVANTO_EXECUTABLE)};
        QVERIFY(first.launch(x.display()));
        // The first copy holds the lock once its window exists, as its log's separator shows.
        QTRY_VERIFY_WITH_TIMEOUT(first.log().contains(QString(53, '-')), 30000);
        QProcess second; // the same data and lock, on the display; the warning in UTF-8
        QProcessEnvironment env = first.environment(x.display());
        env.insert("LC_ALL", "C.UTF-8");
        second.setProcessEnvironment(env);
        second.start(SORVANTO_EXECUTABLE, QStringList());
        QString window;
        QVERIFY(first.xdotool({"search", "--sync", "--onlyvisible", "--pid", QString::number(second.processId())}, &window, 30000));
        QVERIFY(first.xdotool({"windowfocus", "--sync", window.split('\n').first()}) && first.xdotool({"key", "Return"}));
        QVERIFY(second.waitForFinished(15000) && second.exitStatus() == QProcess::NormalExit && second.exitCode() == 1);
        QVERIFY(second.readAllStandardError().contains("Приложение уже запущено и находится в системном трее Windows."));
    }
};

SORVANTO_TEST_MAIN(TstStartup)
#include "tst_startup.moc"
