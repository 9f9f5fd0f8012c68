// The settings dialog: showing fills every field from memory, save stores every
// field and reloads the core, cancel stores nothing but keeps the immediate
// changes, and the media address list holds each IPv4 address once.
#include "mainwindow.h"
#include "settings.h"
#include "testmain.h"
#include "testphone.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHostAddress>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

class TstSettings : public QObject
{
    Q_OBJECT
    MainWindow *w = nullptr;

    QLineEdit *edit(const char *name) const { return TestPhone::widget<QLineEdit>(w->settings, name); }
    QCheckBox *check(const char *name) const { return TestPhone::widget<QCheckBox>(w->settings, name); }
    void click(const char *name) { QTest::mouseClick(TestPhone::widget<QPushButton>(w->settings, name), Qt::LeftButton); }

private slots:
    void initTestCase() { w = TestPhone::create("127.0.0.1", "5070", "100", "secret"); }
    void cleanupTestCase() { delete w; }

    void showFillsFields()
    {
        w->registrTimeout = 1800;
        w->transport = "tcp";
        w->useSTUN = true;
        w->stunIpS = "127.0.0.9";
        w->stunPortS = "4000";
        w->stunIpM = "127.0.0.9";
        w->stunPortM = "4002";
        w->settings->show();
        QCOMPARE(edit("lineEdit_62")->text(), QString("1800"));
        // Not editable: a stored value other than the single item is not shown.
        QCOMPARE(TestPhone::widget<QComboBox>(w->settings, "comboBox_63")->currentText(), QString("UDP"));
        QCOMPARE(check("checkBox_5")->text(), w->logFilePath);
        QVERIFY(check("checkBox_4")->isChecked());
        QCOMPARE(edit("lineEdit_66")->text(), QString("127.0.0.9:4000"));
        QCOMPARE(edit("lineEdit_68")->text(), QString("127.0.0.9:4002"));
        w->settings->close();

        w->useSTUN = false;
        w->settings->show();
        QVERIFY(!check("checkBox_4")->isChecked() && edit("lineEdit_66")->text().isEmpty());
        w->settings->close();
    }

    void saveStoresAndReloads()
    {
        w->settings->show();
        edit("lineEdit_51")->setText("office");
        edit("lineEdit_54")->setText("101");
        edit("lineEdit_65")->setText("6x000");
        edit("lineEdit_63")->setText("30");
        check("checkBox")->setChecked(true);
        check("checkBox_3")->setChecked(false);
        QSignalSpy saved(w->settings, &Settings::saveSignal);
        click("pushButton_51");
        QCOMPARE(saved.count(), 1);
        QVERIFY(!w->settings->isVisible());

        // Read back from the database, not from memory.
        w->account.clear();
        w->user.clear();
        w->getSettingsDB_();
        QCOMPARE(w->account, QString("office"));
        QCOMPARE(w->user, QString("101"));
        QCOMPARE(w->mediaPort, 0);
        QCOMPARE(w->keepAlive, 30);
        QCOMPARE(w->transport, QString("UDP"));
        QVERIFY(w->hideCallerId);
        QVERIFY(!w->codecPCMU);
        QCOMPARE(w->windowTitle(), QString("Sorvanto - 101"));
    }

    void cancelKeepsImmediateChangesOnly()
    {
        w->useLog = true;
        w->settings->show();
        edit("lineEdit_51")->setText("not saved");
        check("checkBox_5")->click();
        QVERIFY(!w->useLog);
        edit("lineEdit_52")->setText("127.0.0.3");
        QMetaObject::invokeMethod(edit("lineEdit_52"), "editingFinished");
        QCOMPARE(w->sipServerIp, QString("127.0.0.3"));
        QComboBox *media = TestPhone::widget<QComboBox>(w->settings, "comboBox_1");
        media->addItem("10.0.0.5");
        emit media->activated(QString("10.0.0.5"));
        QCOMPARE(w->mediaIp, QString("10.0.0.5"));
        click("pushButton_50");
        QCOMPARE(w->account, QString("office"));
        QVERIFY(!w->useLog);
        w->useLog = true;
        w->getSettingsDB_();
        QCOMPARE(w->account, QString("office"));
        QCOMPARE(w->sipServerIp, QString("127.0.0.1"));
    }

    void mediaAddresses_data()
    {
        QTest::addColumn<bool>("up");
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<QStringList>("listed");
        QTest::newRow("two interfaces") << true << QStringList{"127.0.0.1", "10.0.0.5", "::1", "192.168.0.7", "10.0.0.5"}
                                        << QStringList{"10.0.0.5", "192.168.0.7"};
        QTest::newRow("no usable interface") << false << QStringList{"10.0.0.5"} << QStringList{};
        QTest::newRow("loopback only") << true << QStringList{"127.0.0.1", "::1"} << QStringList{};
    }
    void mediaAddresses()
    {
        QFETCH(bool, up);
        QFETCH(QStringList, addresses);
        QFETCH(QStringList, listed);
        QList<QHostAddress> list;
        for (const QString &a : addresses)
            list << QHostAddress(a);
        QCOMPARE(Settings::mediaAddresses(up, list), listed);
    }

    void mediaAddressChoice()
    {
        QComboBox *media = TestPhone::widget<QComboBox>(w->settings, "comboBox_1");
        media->clear();
        media->addItems({"10.0.0.5", "192.168.1.10"});
        w->mediaIp = "192.168.1.10";
        w->settings->selectMediaIp();
        QCOMPARE(media->currentText(), QString("192.168.1.10"));
        QCOMPARE(w->mediaIp, QString("192.168.1.10"));
        w->mediaIp = "192.168.1.99";
        media->setCurrentIndex(0);
        w->settings->selectMediaIp();
        QCOMPARE(w->mediaIp, QString("10.0.0.5"));
        media->clear();
        w->settings->selectMediaIp();
        QVERIFY(w->mediaIp.isEmpty());
    }

    void addressClass_data()
    {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<bool>("global");
        QTest::newRow("top of 172.16/12") << "172.31.255.255" << false;
        QTest::newRow("above 172.16/12") << "172.32.0.1" << true;
        QTest::newRow("other loopback") << "127.0.0.2" << true;
    }
    void addressClass()
    {
        QFETCH(QString, ip);
        QFETCH(bool, global);
        QCOMPARE(w->settings->isGlobalIp(ip), global);
    }
};

SORVANTO_TEST_MAIN(TstSettings)
#include "tst_settings.moc"
