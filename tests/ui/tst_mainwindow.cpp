// The main window's controls without a network: keyboard and pad rules, the
// recent-numbers box, the registration display, call windows and tones,
// volume panel, mute and the tray paths.
#include "audio.h"
#include "dialog.h"
#include "dialogout.h"
#include "mainwindow.h"
#include "sip.h"
#include "siptestserver.h"
#include "testmain.h"
#include "testphone.h"
#include "udpsipsocket.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMediaPlayer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QStandardPaths>
#include <QTextBrowser>
#include <QUdpSocket>
#include <QtTest>

class TstMainWindow : public QObject
{
    Q_OBJECT
    MainWindow *w = nullptr;

    QString display() const { return TestPhone::widget<QTextBrowser>(w, "textBrowser")->toPlainText(); }
    void click(const char *name) { QTest::mouseClick(TestPhone::widget<QPushButton>(w, name), Qt::LeftButton); }
    // The file name of the sound the player holds, once its file is found to
    // be a whole copy of the compiled-in one.
    QString playerSound() const
    {
        const QUrl url = w->player->media().request().url();
        QFile copy(url.toLocalFile());
        QFile original(":/sounds/" + url.fileName());
        if (!url.isLocalFile() || !copy.open(QIODevice::ReadOnly) || !original.open(QIODevice::ReadOnly)
            || copy.readAll() != original.readAll())
            return "not a copy: " + url.toString();
        return url.fileName();
    }

private slots:
    void initTestCase()
    {
        w = TestPhone::create();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QVERIFY(w->audio && w->audio->sip);
    }
    void cleanupTestCase() { delete w; }
    void init() { w->called.clear(); }

    void keyboard_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<QString>("called");
        QTest::newRow("digits") << "" << QList<int>{Qt::Key_1, Qt::Key_2, Qt::Key_0} << "120";
        QTest::newRow("plus replaces minus") << "-123" << QList<int>{Qt::Key_Plus} << "+123";
        QTest::newRow("plus in front") << "123" << QList<int>{Qt::Key_Plus} << "+123";
        QTest::newRow("minus replaces plus") << "+123" << QList<int>{Qt::Key_Minus} << "-123";
        QTest::newRow("backspace") << "123" << QList<int>{Qt::Key_Backspace} << "12";
        QTest::newRow("delete") << "123" << QList<int>{Qt::Key_Delete} << "";
        QTest::newRow("letters ignored") << "12" << QList<int>{Qt::Key_A, Qt::Key_Asterisk} << "12";
        QList<int> many;
        for (int i = 0; i < 35; ++i)
            many << Qt::Key_0 + i % 10;
        QTest::newRow("cut to 30") << "" << many << "012345678901234567890123456789";
    }
    void keyboard()
    {
        QFETCH(QString, start);
        QFETCH(QList<int>, keys);
        QFETCH(QString, called);
        w->called = start;
        QSignalSpy sounds(w, &MainWindow::dtmfStartSignal);
        for (int k : keys)
            QTest::keyClick(w, Qt::Key(k));
        QCOMPARE(w->called, called);
        QVERIFY(sounds.isEmpty());
        if (!called.isEmpty())
            QVERIFY(display().contains(called));
    }

    void pad_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("called");
        QTest::addColumn<QString>("sound");
        QTest::newRow("1") << "pushButton_10" << "71" << "1";
        QTest::newRow("0") << "pushButton_20" << "70" << "0";
        QTest::newRow("star") << "pushButton_19" << "7" << "*";
        QTest::newRow("hash") << "pushButton_21" << "7" << "#";
        QTest::newRow("plus") << "pushButton_23" << "7+" << "";
        QTest::newRow("clear") << "pushButton_24" << "" << "";
    }
    void pad()
    {
        QFETCH(QString, button);
        QFETCH(QString, called);
        QFETCH(QString, sound);
        w->called = "7";
        QSignalSpy sounds(w, &MainWindow::dtmfStartSignal);
        click(button.toLatin1());
        QCOMPARE(w->called, called);
        QCOMPARE(sounds.count(), sound.isEmpty() ? 0 : 1);
        if (!sound.isEmpty()) {
            QCOMPARE(sounds.at(0).at(0).toString(), sound);
            const QString file = sound == "*" ? "zv" : sound == "#" ? "rh" : sound;
            w->dtmfStartSlot("A"); // no such sound: the player keeps what it had
            QCOMPARE(playerSound(), "dtmf_" + file + ".wav");
        }
    }

    void registrationDisplay()
    {
        w->audio->sip->registered = false;
        w->displayIdle();
        click("pushButton_13");
        QVERIFY(display().contains("4") && !display().contains("Линия свободна"));
        // A successful registration sets the flag and emits the signal.
        w->audio->sip->registered = true;
        emit w->registeredSignal();
        click("pushButton_14");
        QVERIFY(display().contains("45") && display().contains("Линия свободна"));
        w->displayIdle();
        QVERIFY(!display().contains("45") && display().contains("Линия свободна"));
        w->audio->sip->registered = false;
    }

    void callWindowsAndTones()
    {
        w->lastNumber.clear();
        click("pushButton_27");
        click("pushButton_22");
        QVERIFY(!w->dialogOut->isVisible());

        w->lastNumber = "201";
        click("pushButton_22");
        QVERIFY(w->called == "201" && w->dialogOut->isVisible() && w->info == "Out");
        emit w->rx183Signal();
        QCOMPARE(playerSound(), QString("csc.mp3"));
        emit w->audioStopSignal();
        QVERIFY(!w->dialogOut->isVisible() && w->called.isEmpty());
        QCOMPARE(w->player->state(), QMediaPlayer::StoppedState);
        QVERIFY(TestPhone::widget<QComboBox>(w, "comboBox")->findText("201  ") > 0);

        // Shown means missed; answering marks it "In" and restarts its clock.
        w->called = "300";
        emit w->dialogWinShowSignal();
        QVERIFY(w->dialog->isVisible() && w->info == "Break");
        QCOMPARE(playerSound(), QString("zvonok.mp3"));
        w->currtime = "01.01.2000 00:00:00";
        w->talkSeconds = 7;
        QTest::mouseClick(TestPhone::widget<QPushButton>(w->dialog, "pushButton_30"), Qt::LeftButton);
        QVERIFY(w->info == "In" && w->currtime != "01.01.2000 00:00:00" && w->talkSeconds == 0);
        emit w->audioStopSignal();
        QVERIFY(!w->dialog->isVisible());
    }

    // A damaged copy of a sound is written anew; where no copy can be written
    // the player takes the compiled-in sound itself.
    void soundCopies()
    {
        const QString dir = QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + "/sounds";
        w->busyStart("Bye");
        QCOMPARE(playerSound(), QString("busy.mp3"));
        QFile damaged(dir + "/busy.mp3");
        QVERIFY(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
        damaged.write("ID3");
        damaged.close();
        w->busyStart("Bye");
        QCOMPARE(playerSound(), QString("busy.mp3"));

        QVERIFY(QDir(dir).removeRecursively());
        QFile blocker(dir); // a file where the folder should be
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        w->busyStart("Bye");
        QCOMPARE(w->player->media().request().url(), QUrl("qrc:/sounds/busy.mp3"));
        QVERIFY(QFile::remove(dir));
        w->busyStop();
    }

    // A caller's number is text, whatever it holds.
    void markupInNumberShownAsText()
    {
        w->called = "<i>7</i>";
        emit w->dialogWinShowSignal();
        QVERIFY2(display().contains("<i>7</i>"), qPrintable(display()));
        QCOMPARE(TestPhone::widget<QLabel>(w->dialog, "label_30")->textFormat(), Qt::PlainText);
        emit w->audioStopSignal();
    }

    // The stored item carries two trailing blanks; the choice is trimmed and shown right-aligned.
    void recentNumbers()
    {
        QComboBox *box = TestPhone::widget<QComboBox>(w, "comboBox");
        box->clear();
        box->addItem("Недавние");
        box->addItem("5551234  ");
        box->setCurrentIndex(1);
        emit box->activated(box->itemText(1));
        QCOMPARE(w->called, QString("5551234"));
        QCOMPARE(box->itemText(0), QString("5551234  "));
        QCOMPARE(box->itemData(0, Qt::TextAlignmentRole).toInt(), int(Qt::AlignRight));
    }

    // The volume button swaps the dial pad's call row for the level sliders and back.
    void volumePanelAndMute()
    {
        auto *mic = TestPhone::widget<QSlider>(w, "horizontalSlider");
        auto *spk = TestPhone::widget<QSlider>(w, "horizontalSlider_2");
        QWidget *call = TestPhone::widget<QPushButton>(w, "pushButton_27");
        QVERIFY(call->isVisible() && !mic->isVisible());
        click("pushButton_2");
        QVERIFY(!call->isVisible() && mic->isVisible());
        click("pushButton_2");
        QVERIFY(call->isVisible() && !mic->isVisible());

        mic->setValue(40);
        spk->setValue(75);
        QVERIFY(w->micValue == 0.4f && w->speakerValue == 75);
        QCOMPARE(TestPhone::widget<QLabel>(w, "label_7")->text() + TestPhone::widget<QLabel>(w, "label_8")->text(),
                 QString("40 %75 %"));

        // mute keeps the level for the unmute
        click("pushButton_1");
        QVERIFY(!w->micOn && !mic->isEnabled());
        QCOMPARE(TestPhone::widget<QLabel>(w, "label_5")->text(), QString("Выключен"));
        click("pushButton_1");
        QVERIFY(w->micOn && mic->isEnabled() && w->micValue == 0.4f);

        click("pushButton_3");
        QVERIFY(!w->speakerOn && !spk->isEnabled());
        click("pushButton_3");
        QVERIFY(w->speakerOn && spk->isEnabled());
    }

    // Coming back from a minimise reloads the settings only; coming back from
    // "Свернуть" re-binds the SIP socket to the stored port.
    void trayPaths()
    {
        const quint16 freePort = SipTestServer::freePort();
        QVERIFY(TestPhone::storeSetting(w, "sipServerPort", QString::number(freePort)));
        const quint16 before = w->audio->sip->socket->udpSocket->localPort();
        QVERIFY(before != freePort);

        w->setWindowState(Qt::WindowMinimized); // as the window manager does
        QVERIFY(!w->isVisible() && w->bTrayActionExecute);
        w->trayIconActivated(QSystemTrayIcon::Context);
        QVERIFY(!w->isVisible());
        w->trayIconActivated(QSystemTrayIcon::Trigger);
        QVERIFY(w->isVisible() && !w->isMinimized());
        QCOMPARE(w->audio->sip->socket->udpSocket->localPort(), before);

        w->bTrayActionExecute = false; // as after a save
        w->minimizeAction->trigger();
        QVERIFY(!w->isVisible());
        w->restoreAction->trigger();
        QVERIFY(w->isVisible());
        QCOMPARE(w->audio->sip->socket->udpSocket->localPort(), freePort);
    }
};

SORVANTO_TEST_MAIN(TstMainWindow)
#include "tst_mainwindow.moc"
