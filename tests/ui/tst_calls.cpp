// The whole window against SIPp on loopback through the real user agent:
// a dialled call that is answered counts talk time on the display and both
// windows and leaves one "Out" row; a busy answer shows its cause and ends the
// call 3 s later; an incoming call shows both windows and is recorded "In"
// when answered and "Break" when the caller cancels.
#include "dialog.h"
#include "dialogout.h"
#include "mainwindow.h"
#include "sipppeer.h"
#include "siptestserver.h"
#include "testmain.h"
#include "testphone.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTextBrowser>
#include <QTimer>
#include <QtTest>

class TstCalls : public QObject
{
    Q_OBJECT
    MainWindow *w = nullptr;
    quint16 phonePort = 0;
    SippPeer *sipp = nullptr;

    static QString scenario(const char *name)
    {
        return QStringLiteral(SORVANTO_TESTS_DIR "/agent/sipp/") + QLatin1String(name) + QStringLiteral(".xml");
    }
    // SIPp cannot share the phone's port, so it listens on its own and the
    // phone, bound where it is, just sends there.
    bool startSipp(const char *name, bool callsPhone)
    {
        const quint16 port = SipTestServer::freePort();
        const QString remote = callsPhone ? "127.0.0.1:" + QString::number(phonePort) : QString();
        const QStringList extra = callsPhone ? QStringList{"-s", "100"} : QStringList{};
        if (!sipp->start(scenario(name), "127.0.0.2", port, remote, extra)) {
            qWarning("%s", qPrintable(sipp->errorString()));
            return false;
        }
        // Memory and row both: a return from the tray reloads the row (but
        // keeps the socket where it is).
        w->sipServerPort = QString::number(port);
        return TestPhone::storeSetting(w, "sipServerPort", w->sipServerPort);
    }
    void dial(const QString &number)
    {
        for (QChar c : number)
            QTest::mouseClick(TestPhone::widget<QPushButton>(
                                  w, QByteArray("pushButton_") + QByteArray::number(c == '0' ? 20 : 9 + c.digitValue())),
                              Qt::LeftButton);
        QTest::mouseClick(TestPhone::widget<QPushButton>(w, "pushButton_27"), Qt::LeftButton);
    }
    QStringList lastHistoryRow() const
    {
        QSqlQuery q(w->db);
        if (!q.exec("SELECT called, time, info FROM history ORDER BY id DESC LIMIT 1") || !q.next())
            return {};
        return {q.value(0).toString(), q.value(1).toString(), q.value(2).toString()};
    }
    QString label(QWidget *win, const char *name) const { return TestPhone::widget<QLabel>(win, name)->text(); }

private slots:
    void initTestCase()
    {
        phonePort = SipTestServer::freePort();
        // No password: no REGISTER reaches a scenario that does not expect one.
        w = TestPhone::create("127.0.0.2", QString::number(phonePort), "100", QString());
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        w->useSTUN = false;
        w->sipServerAddr = "127.0.0.2";
        w->mediaIp = "127.0.0.1";
    }
    void cleanupTestCase() { delete w; }
    void init() { sipp = new SippPeer; }
    void cleanup()
    {
        delete sipp;
        sipp = nullptr;
        w->busyStop();
    }

    void incomingAnswered()
    {
        w->setWindowState(Qt::WindowMinimized); // into the tray
        QVERIFY(!w->isVisible());
        QSignalSpy shown(w, &MainWindow::dialogWinShowSignal);
        QSignalSpy busy(w, &MainWindow::busyStartSignal);
        QVERIFY(startSipp("uac_answer", true));
        QVERIFY2(shown.wait(5000), qPrintable(sipp->report()));
        QVERIFY(w->isVisible() && w->dialog->isVisible());
        QCOMPARE(label(w->dialog, "label_30"), QString("200"));
        QTest::mouseClick(TestPhone::widget<QPushButton>(w->dialog, "pushButton_30"), Qt::LeftButton);
        // The caller hangs up: its BYE ends the call after the busy tone.
        QVERIFY2(busy.wait(5000), qPrintable(sipp->report()));
        QSignalSpy ended(w->busyTimer, &QTimer::timeout);
        QVERIFY(ended.wait(5000));
        QVERIFY(!w->dialog->isVisible());
        const QStringList row = lastHistoryRow();
        QVERIFY2(row.value(0) == "200" && row.value(2) == "In", qPrintable(row.join(' ')));
        QVERIFY2(sipp->finish(), qPrintable(sipp->report()));
    }

    void incomingCancelled()
    {
        QSignalSpy shown(w, &MainWindow::dialogWinShowSignal);
        QSignalSpy busy(w, &MainWindow::busyStartSignal);
        QVERIFY(startSipp("uac_cancel", true));
        QVERIFY2(shown.wait(5000), qPrintable(sipp->report()));
        QVERIFY(w->dialog->isVisible());
        QVERIFY2(busy.count() > 0 || busy.wait(5000), qPrintable(sipp->report()));
        QCOMPARE(label(w->dialog, "label_32"), busy.at(0).at(0).toString());
        QSignalSpy ended(w->busyTimer, &QTimer::timeout);
        QVERIFY(ended.wait(5000));
        QVERIFY(!w->dialog->isVisible());
        QCOMPARE(lastHistoryRow(), (QStringList{"200", "00:00:00", "Break"}));
        QVERIFY2(sipp->finish(), qPrintable(sipp->report()));
    }
    void dialledCallIsAnswered()
    {
        QVERIFY(startSipp("uas_call", false));
        QSignalSpy started(w, &MainWindow::audioStartSignal);
        QSignalSpy stopped(w, &MainWindow::audioStopSignal);
        dial("200");
        QVERIFY(w->dialogOut->isVisible());
        QCOMPARE(label(w->dialogOut, "label_40"), QString("200"));
        QVERIFY2(started.wait(5000), qPrintable(sipp->report()));

        QSignalSpy tick(w->talkTimer, &QTimer::timeout);
        while (w->talkSeconds < 2)
            QVERIFY(tick.wait(2500));
        QCOMPARE(label(w->dialogOut, "label_41"), w->time);
        QVERIFY(TestPhone::widget<QTextBrowser>(w, "textBrowser")->toPlainText().contains(w->time));
        QVERIFY(w->time >= QString("00:00:02"));

        const QString talked = w->time;
        QTest::mouseClick(TestPhone::widget<QPushButton>(w->dialogOut, "pushButton_40"), Qt::LeftButton);
        QVERIFY(stopped.count() == 1 && !w->dialogOut->isVisible());
        QCOMPARE(lastHistoryRow(), (QStringList{"200", talked, "Out"}));
        QVERIFY2(sipp->finish(), qPrintable(sipp->report()));
    }

    void busyAnswerEndsCallLater()
    {
        QVERIFY(startSipp("uas_busy", false));
        QSignalSpy busy(w, &MainWindow::busyStartSignal);
        dial("201");
        QVERIFY2(busy.wait(5000), qPrintable(sipp->report()));
        QCOMPARE(label(w->dialogOut, "label_42"), QString("486 Busy Here"));
        QVERIFY(w->dialogOut->isVisible());
        QSignalSpy ended(w->busyTimer, &QTimer::timeout);
        QVERIFY(ended.wait(5000));
        QVERIFY(!w->dialogOut->isVisible());
        QCOMPARE(lastHistoryRow(), (QStringList{"201", "00:00:00", "Out"}));
        QVERIFY2(sipp->finish(), qPrintable(sipp->report()));
    }

};

SORVANTO_TEST_MAIN(TstCalls)
#include "tst_calls.moc"
