// The main window and the call windows without a network, the user agent's
// call state set as its processing would leave it: keyboard and pad rules and
// key sounds; call and redial start a call only on a free line and answer a
// ringing one; Esc or close on a call window hangs up, answer only answers what
// rings; a call window re-shown by the window manager keeps the record; the
// first show loads queued, an incoming call shows the window without a reload;
// talk time, busy cause and the end record; mute reaches the audio devices.
#include "audio.h"
#include "audioinput.h"
#include "audiooutput.h"
#include "dialog.h"
#include "dialogout.h"
#include "mainwindow.h"
#include "sip.h"
#include "sipparser.h"
#include "siptestserver.h"
#include "testmain.h"
#include "testphone.h"
#include "udpsipsocket.h"

#include <QAudioInput>
#include <QAudioOutput>
#include <QLabel>
#include <QMediaPlayer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTextBrowser>
#include <QUdpSocket>
#include <QtTest/qtestspontaneevent.h>

class TstMainWindow : public QObject
{
    Q_OBJECT
    MainWindow *w = nullptr;

    QString display() const { return TestPhone::widget<QTextBrowser>(w, "textBrowser")->toPlainText(); }
    void click(QWidget *window, const QByteArray &name) { TestPhone::widget<QPushButton>(window, name)->click(); }
    QString label(QWidget *window, const char *name) { return TestPhone::widget<QLabel>(window, name)->text(); }
    void setState(int state) { w->audio->sip->parser->callState = state; }
    quint16 sipPort() const { return w->audio->sip->socket->udpSocket->localPort(); }

private slots:
    void initTestCase()
    {
        w = TestPhone::create(QString(), "5060", "101");
        w->show();
        QCOMPARE(w->windowTitle(), QString("Sorvanto - ")); // the load waits for the event loop
        QTRY_COMPARE(w->windowTitle(), QString("Sorvanto - 101"));
    }
    void cleanupTestCase() { delete w; }
    void init()
    {
        setState(CallEnded);
        w->dialog->hide();
        w->dialogOut->hide();
        w->busyStop();
    }

    // Below 30 a key is the pad button of that number.
    void keys_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<QString>("called");
        QTest::addColumn<QString>("sound");
        QTest::newRow("digits, cut to 30") << "" << QVector<int>(35, Qt::Key_7).toList() << QString(30, '7') << "";
        QTest::newRow("sign replaced") << "-123" << QList<int>{Qt::Key_Plus} << "+123" << "";
        QTest::newRow("sign put in front, backspace") << "123" << QList<int>{Qt::Key_Minus, Qt::Key_Backspace} << "-12" << "";
        QTest::newRow("letter, delete") << "123" << QList<int>{Qt::Key_A, Qt::Key_Delete} << "" << "";
        QTest::newRow("pad 1") << "7" << QList<int>{10} << "71" << "dtmf_1.wav";
        QTest::newRow("pad #") << "7" << QList<int>{21} << "7" << "dtmf_rh.wav";
        QTest::newRow("pad +") << "7" << QList<int>{23} << "7+" << "";
        QTest::newRow("pad clear") << "7" << QList<int>{24} << "" << "";
    }
    void keys()
    {
        QFETCH(QString, start);
        QFETCH(QList<int>, keys);
        QFETCH(QString, called);
        QFETCH(QString, sound);
        w->called = start;
        w->player->stop();
        for (int k : keys)
            k < 30 ? click(w, "pushButton_" + QByteArray::number(k)) : QTest::keyClick(w, Qt::Key(k));
        QVERIFY(w->called == called && display().contains(called));
        const bool playing = w->player->state() == QMediaPlayer::PlayingState;
        QCOMPARE(playing ? w->player->media().request().url().fileName() : QString(), sound);
    }

    // State -1: the far end has ended the call and its busy tone plays.
    void callControl_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("call, line free after a call") << "" << "pushButton_27" << int(CallEnded) << "invite";
        QTest::newRow("call, ringing: answers") << "" << "pushButton_27" << int(CallOffered) << "answer";
        QTest::newRow("call, talking") << "" << "pushButton_27" << int(CallEstablished) << "";
        QTest::newRow("call, busy tone") << "" << "pushButton_27" << -1 << "";
        QTest::newRow("redial, ringing") << "" << "pushButton_22" << int(CallOffered) << "";
        QTest::newRow("ringing, Esc: rejects") << "in" << "Esc" << int(CallOffered) << "hang up";
        QTest::newRow("incoming, talking, close") << "in" << "close" << int(CallEstablished) << "hang up";
        QTest::newRow("calling, Esc: cancels") << "out" << "Esc" << int(CallCalling) << "hang up";
        QTest::newRow("busy tone, close: hides") << "out" << "close" << -1 << "";
        QTest::newRow("ringing, answer") << "in" << "pushButton_30" << int(CallOffered) << "answer";
        QTest::newRow("caller gone, answer") << "in" << "pushButton_30" << int(CallEnded) << "";
    }
    void callControl()
    {
        QFETCH(QString, window);
        QFETCH(QString, action);
        QFETCH(int, state);
        QFETCH(QString, outcome);
        QWidget *shown = window == "in" ? static_cast<QWidget *>(w->dialog) : window == "out" ? static_cast<QWidget *>(w->dialogOut) : w;
        shown->show();
        w->called = w->lastNumber = "300";
        setState(state < 0 ? int(CallEnded) : state);
        if (state < 0)
            w->busyTimer->start(3000);
        const QString callId = w->callCallId, info = w->info; // a new INVITE takes new identifiers
        QSignalSpy answered(w->dialog, &Dialog::answerSignal), in(w->dialog, &Dialog::disconnectSignal),
            out(w->dialogOut, &DialogOut::disconnectSignal);
        action == "Esc" ? QTest::keyClick(shown, Qt::Key_Escape) : action == "close" ? void(shown->close()) : click(shown, action.toLatin1());
        QCOMPARE(QString(w->callCallId != callId ? "invite" : !answered.isEmpty() ? "answer" : in.count() + out.count() ? "hang up" : ""), outcome);
        QCOMPARE(w->info, outcome == "answer" ? "In" : outcome == "invite" ? "Out" : info);
        QVERIFY(action.startsWith("push") || !shown->isVisible());
        QVERIFY(outcome == "hang up" || w->called == "300");
    }

    void reShownWindowKeepsRecord()
    {
        for (QWidget *window : {static_cast<QWidget *>(w->dialog), static_cast<QWidget *>(w->dialogOut)}) {
            std::tie(w->info, w->currtime) = std::make_tuple("In", "01.01.2000 00:00:00");
            QShowEvent show;
            QSpontaneKeyEvent::setSpontaneous(&show); // as the window manager re-maps it
            qApp->notify(window, &show);
            QVERIFY(w->info == "In" && w->currtime == "01.01.2000 00:00:00");
        }
    }

    // The SIP socket stays where it is although the stored port differs; the
    // display keeps the caller, as text, never markup.
    void incomingCallShowsWithoutReload()
    {
        const quint16 port = sipPort();
        QVERIFY(TestPhone::storeSetting(w, "sipServerPort", QString::number(SipTestServer::freePort())));
        w->called = "<i>300</i>";
        w->setWindowState(Qt::WindowMinimized);
        QCoreApplication::processEvents();
        emit w->dialogWinShowSignal();
        QCoreApplication::processEvents();
        QVERIFY(w->isVisible() && !w->isMinimized() && w->dialog->isVisible() && display().contains("<i>300</i>"));
        QCOMPARE(sipPort(), port);
    }

    void talkTimeBusyAndRecord()
    {
        w->called = "201";
        click(w, "pushButton_27");
        emit w->audioStartSignal();
        QSignalSpy tick(w->talkTimer, &QTimer::timeout);
        QVERIFY(tick.wait(2000) && label(w->dialogOut, "label_41") == "00:00:01" && display().contains("00:00:01"));
        setState(CallEnded);
        emit w->busyStartSignal("486 Busy Here");
        QVERIFY(label(w->dialogOut, "label_42") == "486 Busy Here" && !w->audioActive() && w->dialogOut->isVisible());
        QSignalSpy ended(w->busyTimer, &QTimer::timeout);
        QVERIFY(ended.wait(5000) && !w->dialogOut->isVisible() && w->called.isEmpty());
        QSqlQuery last("SELECT called || time || info FROM history ORDER BY id DESC LIMIT 1", w->db);
        QVERIFY(last.next() && last.value(0) == "20100:00:01Out");
    }

    // Muted through the start of a call; unmuted, the sliders' levels return.
    void muteReachesDevices()
    {
        auto levels = [this]() {
            return qRound(w->audio->audioInput->audioInput->volume() * 100) * 1000
                + qRound(w->audio->audioOutput->audioOutput->volume() * 100);
        };
        w->on_horizontalSlider_valueChanged(40);
        w->on_horizontalSlider_2_valueChanged(75);
        for (int level : {0, 40075}) {
            click(w, "pushButton_1");
            click(w, "pushButton_3");
            w->audio->audioStart();
            QCOMPARE(levels(), level);
        }
        w->audio->audioStop();
    }
};

SORVANTO_TEST_MAIN(TstMainWindow)
#include "tst_mainwindow.moc"
