// The call record without a network: which window marks a call In, Out or Break,
// the talk time on the display and both windows, tones per call state, and one
// history row at the end of every call, also 3 s after a busy answer.
#include "audio.h"
#include "dialog.h"
#include "dialogout.h"
#include "mainwindow.h"
#include "testphone.h"

#include <QComboBox>
#include <QLabel>
#include <QMediaPlayer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTextBrowser>
#include <QTimer>
#include <QtTest>

class TstCallFlow : public QObject
{
    Q_OBJECT
    MainWindow *w = nullptr;

    QStringList lastHistoryRow() const
    {
        QSqlQuery q(w->db);
        if (!q.exec("SELECT called, time, info FROM history ORDER BY id DESC LIMIT 1") || !q.next())
            return {};
        return {q.value(0).toString(), q.value(1).toString(), q.value(2).toString()};
    }
    int historyRows() const
    {
        QSqlQuery q(w->db);
        return q.exec("SELECT COUNT(*) FROM history") && q.next() ? q.value(0).toInt() : -1;
    }
    QString label(QWidget *win, const char *name) const { return TestPhone::widget<QLabel>(win, name)->text(); }

private slots:
    void initTestCase()
    {
        w = TestPhone::create();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
    }
    void cleanupTestCase() { delete w; }

    void outgoingUnanswered()
    {
        const int rows = historyRows();
        w->called = "200";
        QTest::mouseClick(TestPhone::widget<QPushButton>(w, "pushButton_27"), Qt::LeftButton);
        QVERIFY(w->dialogOut->isVisible());
        QCOMPARE(label(w->dialogOut, "label_40"), QString("200"));
        QCOMPARE(w->info, QString("Out"));
        QCOMPARE(w->lastNumber, QString("200"));

        emit w->rx183Signal();
        QCOMPARE(w->player->media().canonicalUrl(), QUrl("qrc:/sounds/csc.mp3"));

        emit w->audioStopSignal();
        QVERIFY(!w->dialogOut->isVisible());
        QVERIFY(w->called.isEmpty());
        QCOMPARE(historyRows(), rows + 1);
        QCOMPARE(lastHistoryRow(), (QStringList{"200", "00:00:00", "Out"}));
        // The number now feeds the recent-numbers box.
        QVERIFY(TestPhone::widget<QComboBox>(w, "comboBox")->findText("200  ") > 0);
    }

    void redial()
    {
        w->lastNumber = "201";
        QTest::mouseClick(TestPhone::widget<QPushButton>(w, "pushButton_22"), Qt::LeftButton);
        QCOMPARE(w->called, QString("201"));
        QVERIFY(w->dialogOut->isVisible());
        QCOMPARE(label(w->dialogOut, "label_40"), QString("201"));
        emit w->audioStopSignal();
        QCOMPARE(lastHistoryRow(), (QStringList{"201", "00:00:00", "Out"}));
    }

    void incomingMissedAndAnswered()
    {
        w->hide();
        w->called = "300";
        emit w->dialogWinShowSignal();
        QVERIFY(w->isVisible());
        QVERIFY(w->dialog->isVisible());
        QCOMPARE(label(w->dialog, "label_30"), QString("300"));
        QCOMPARE(w->info, QString("Break"));
        QCOMPARE(w->player->media().canonicalUrl(), QUrl("qrc:/sounds/zvonok.mp3"));
        emit w->audioStopSignal();
        QCOMPARE(lastHistoryRow(), (QStringList{"300", "00:00:00", "Break"}));

        w->called = "301";
        emit w->dialogWinShowSignal();
        QSignalSpy answer(w->dialog, &Dialog::answerSignal);
        QTest::mouseClick(TestPhone::widget<QPushButton>(w->dialog, "pushButton_30"), Qt::LeftButton);
        QCOMPARE(answer.count(), 1);
        QCOMPARE(w->info, QString("In"));
        emit w->audioStopSignal();
        QCOMPARE(lastHistoryRow(), (QStringList{"301", "00:00:00", "In"}));
    }

    void talkTime()
    {
        w->called = "400";
        QTest::mouseClick(TestPhone::widget<QPushButton>(w, "pushButton_27"), Qt::LeftButton);
        emit w->rx183Signal();
        emit w->audioStartSignal();
        QCOMPARE(w->player->state(), QMediaPlayer::StoppedState);
        QVERIFY(w->audio->audioActive);
        QSignalSpy tick(w->talkTimer, &QTimer::timeout);
        QVERIFY(tick.wait(2500));
        QVERIFY(tick.wait(2500));
        QVERIFY(w->talkSeconds >= 2);
        QCOMPARE(w->time, QTime(0, 0).addSecs(w->talkSeconds).toString("hh:mm:ss"));
        QCOMPARE(label(w->dialogOut, "label_41"), w->time);
        QCOMPARE(label(w->dialog, "label_31"), w->time);
        QVERIFY(TestPhone::widget<QTextBrowser>(w, "textBrowser")->toPlainText().contains(w->time));
        const QString talked = w->time;
        emit w->audioStopSignal();
        QVERIFY(!w->audio->audioActive);
        QCOMPARE(lastHistoryRow(), (QStringList{"400", talked, "Out"}));
    }

    void busyEndsCallAfterThreeSeconds()
    {
        const int rows = historyRows();
        w->called = "500";
        QTest::mouseClick(TestPhone::widget<QPushButton>(w, "pushButton_27"), Qt::LeftButton);
        w->busyStartSendSignal("486 Busy Here");
        QCOMPARE(label(w->dialogOut, "label_42"), QString("486 Busy Here"));
        QCOMPARE(label(w->dialog, "label_32"), QString("486 Busy Here"));
        QCOMPARE(w->player->media().canonicalUrl(), QUrl("qrc:/sounds/busy.mp3"));
        QVERIFY(w->dialogOut->isVisible());
        QCOMPARE(historyRows(), rows);

        QSignalSpy fired(w->busyTimer, &QTimer::timeout);
        QVERIFY(fired.wait(5000));
        QVERIFY(!w->dialogOut->isVisible());
        QVERIFY(!w->busyTimer->isActive());
        QCOMPARE(historyRows(), rows + 1);
        QCOMPARE(lastHistoryRow(), (QStringList{"500", "00:00:00", "Out"}));
    }

    // Answering resets the start time to the moment of the answer.
    void answerRestampsStart()
    {
        w->called = "600";
        emit w->dialogWinShowSignal();
        w->currtime = "01.01.2000 00:00:00";
        w->talkSeconds = 7;
        QTest::mouseClick(TestPhone::widget<QPushButton>(w->dialog, "pushButton_30"), Qt::LeftButton);
        QVERIFY(w->currtime != "01.01.2000 00:00:00");
        QCOMPARE(w->talkSeconds, 0);
        QCOMPARE(w->time, QString("00:00:00"));
        emit w->audioStopSignal();
    }
};

QTEST_MAIN(TstCallFlow)
#include "tst_callflow.moc"
