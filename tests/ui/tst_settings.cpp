// The settings dialog: every column round-trips from its field through the
// save to the stored row, and from a changed row through the reload back to its
// field; a number out of range or not a number is refused with a message
// naming the field and nothing is stored, a number field takes digits only;
// cancel stores nothing but keeps the immediate changes; the STUN results show
// only with STUN on.
#include "boxwatcher.h"
#include "mainwindow.h"
#include "settings.h"
#include "sqlpeek.h"
#include "testmain.h"
#include "testphone.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

class TstSettings : public QObject
{
    Q_OBJECT
    MainWindow *w = nullptr;

    QLineEdit *edit(const char *name) const { return TestPhone::widget<QLineEdit>(w->settings, name); }
    QString stored(const QString &column)
    {
        return SqlPeek(w->db.databaseName()).column("SELECT " + column + " FROM settings").value(0).toString();
    }

private slots:
    void initTestCase() { w = TestPhone::create("127.0.0.1", "5070", "100", "secret"); }
    void cleanupTestCase() { delete w; }
    void init() { w->settings->show(); }
    void cleanup() { w->settings->close(); }

    // Column, its field and two values: one typed and saved, one written to the row and loaded.
    void roundTrip()
    {
        const char *fields[][4] = {
            {"account", "lineEdit_51", "a1", "a2"}, {"sipServerIp", "lineEdit_52", "127.0.0.3", "127.0.0.4"},
            {"sipProxyIp", "lineEdit_53", "p1", "p2"}, {"sipServerPort", "lineEdit_64", "5071", "5072"},
            {"user", "lineEdit_54", "u1", "u2"}, {"domain", "lineEdit_55", "d1", "d2"}, {"login", "lineEdit_56", "l1", "l2"},
            {"password", "lineEdit_57", "w1", "w2"}, {"name", "lineEdit_58", "n1", "n2"},
            {"voicemail", "lineEdit_59", "v1", "v2"}, {"prefix", "lineEdit_60", "x1", "x2"}, {"plan", "lineEdit_61", "y1", "y2"},
            {"registrTimeout", "lineEdit_62", "61", "62"}, {"keepAlive", "lineEdit_63", "1", "2"},
            {"mediaPort", "lineEdit_65", "40001", "40002"}, {"STUN", "lineEdit_67", "s1", "s2"},
            {"hideCallerId", "checkBox", "true", "false"}, {"codecPCMA", "checkBox_2", "false", "true"},
            {"codecPCMU", "checkBox_3", "false", "true"}, {"useLog", "checkBox_5", "false", "true"}};
        for (auto &f : fields) {
            if (auto *check = w->settings->findChild<QCheckBox *>(f[1]))
                check->setChecked(QByteArray(f[2]) == "true");
            else
                edit(f[1])->setText(f[2]);
        }
        w->publicPresent = w->enableRewriteIp = w->ICE = w->disableSessionTimer = true; // no field: stored as they are
        TestPhone::widget<QPushButton>(w->settings, "pushButton_51")->click();
        QVERIFY(!w->settings->isVisible());
        for (auto &f : fields)
            QCOMPARE(stored(f[0]), QString(f[2]));
        QCOMPARE(stored("publicPresent || enableRewriteIp || ICE || disableSessionTimer"), QString("truetruetruetrue"));
        SqlPeek row(w->db.databaseName());
        for (auto &f : fields)
            QVERIFY(row.exec(QString("UPDATE settings SET %1 = ?").arg(f[0]), {f[3]}));
        QVERIFY(row.exec("UPDATE settings SET publicPresent = 'false', enableRewriteIp = 'false', ICE = 'false', "
                         "disableSessionTimer = 'false'"));
        w->getSettingsDB_();
        QVERIFY(!w->publicPresent && !w->enableRewriteIp && !w->ICE && !w->disableSessionTimer);
        w->settings->show();
        for (auto &f : fields) {
            auto *check = w->settings->findChild<QCheckBox *>(f[1]);
            QCOMPARE(check ? QString(check->isChecked() ? "true" : "false") : edit(f[1])->text(), QString(f[3]));
        }
    }

    void numbers_data()
    {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("caption");
        QTest::newRow("registration below 60") << QByteArray("lineEdit_62") << "59" << "Обнов. регистр.";
        QTest::newRow("registration above a day") << QByteArray("lineEdit_62") << "86401" << "Обнов. регистр.";
        QTest::newRow("registration 86400") << QByteArray("lineEdit_62") << "86400" << "";
        QTest::newRow("keep-alive 0") << QByteArray("lineEdit_63") << "0" << "";
        QTest::newRow("keep-alive above 3600") << QByteArray("lineEdit_63") << "3601" << "Keep-Aalive";
        QTest::newRow("SIP port 1023") << QByteArray("lineEdit_64") << "1023" << "Sip-порт";
        QTest::newRow("media port with a letter") << QByteArray("lineEdit_65") << "6x000" << "Медиа порт";
        QTest::newRow("media port empty") << QByteArray("lineEdit_65") << "" << "Медиа порт";
        QTest::newRow("media port 65535") << QByteArray("lineEdit_65") << "65535" << "";
    }
    void numbers()
    {
        QFETCH(QByteArray, field);
        QFETCH(QString, text);
        QFETCH(QString, caption);
        const QString before = edit(field)->text();
        QTest::keyClicks(edit(field), "a+");
        QCOMPARE(edit(field)->text(), before); // digits only
        edit(field)->setText(text);
        edit("lineEdit_51")->setText("changed");
        BoxWatcher boxes;
        TestPhone::widget<QPushButton>(w->settings, "pushButton_51")->click();
        QCOMPARE(boxes.texts.size(), caption.isEmpty() ? 0 : 1);
        QVERIFY(caption.isEmpty() || boxes.texts.value(0).contains(caption));
        QCOMPARE(stored("account") == "changed", caption.isEmpty());
        QCOMPARE(w->settings->isVisible(), !caption.isEmpty());
        QVERIFY(SqlPeek(w->db.databaseName()).exec("UPDATE settings SET account = ''"));
    }

    void cancelKeepsImmediateChangesOnly()
    {
        edit("lineEdit_51")->setText("not saved");
        TestPhone::widget<QCheckBox>(w->settings, "checkBox_5")->click();
        const bool log = w->useLog;
        edit("lineEdit_52")->setText("127.0.0.5");
        QMetaObject::invokeMethod(edit("lineEdit_52"), "editingFinished");
        TestPhone::widget<QPushButton>(w->settings, "pushButton_50")->click();
        QVERIFY(w->sipServerIp == "127.0.0.5" && w->account != "not saved" && w->useLog == log);
        QVERIFY(stored("sipServerIp") != "127.0.0.5");
    }

    void stunResultsShownWithStunOnly()
    {
        w->useSTUN = true;
        std::tie(w->stunIpS, w->stunPortS, w->stunIpM, w->stunPortM) = std::make_tuple("127.0.0.9", "4000", "127.0.0.9", "4002");
        w->settings->hide();
        w->settings->show();
        QVERIFY(TestPhone::widget<QCheckBox>(w->settings, "checkBox_4")->isChecked());
        QCOMPARE(edit("lineEdit_66")->text() + " " + edit("lineEdit_68")->text(), QString("127.0.0.9:4000 127.0.0.9:4002"));
        w->useSTUN = false;
        w->settings->hide();
        w->settings->show();
        QVERIFY(edit("lineEdit_66")->text().isEmpty() && edit("lineEdit_68")->text().isEmpty());
    }
};

SORVANTO_TEST_MAIN(TstSettings)
#include "tst_settings.moc"
