// The main window and its dialogs without a network, the user agent's call
// state set as its processing would leave it: call and redial start a call
// only on a free line and answer a ringing one; Esc or the user's close on a call window hangs up, answer only answers what
// rings; the next caller's window outlives the last call's busy tone and shows from the tray without a reload; a call
// window re-shown by the window manager keeps the record; the start loads before the window shows;
// talk time, busy cause and the end record; mute reaches the audio devices;
// the lock only while signalling is TLS and media SRTP, and the record keeps it.
// Settings: every column round-trips from its field through the save to the
// stored row, and from a changed row through the reload back to its field; a
// number field takes digits only, and a number out of range is refused with a
// message naming the field while nothing is stored; so is required SRTP over a
// transport that would carry its keys in clear.
// Every window the README shows renders at its fixed size (with SORVANTO_SCREENSHOTS set to a directory, each is
// saved there as a PNG; scripts/screenshots runs `windows` so under Xvfb). The history's tabs list their kind by
// descending start-time text, with the kind's icon, and a number searched in a tab only that number's calls of its kind.
#include "application.h"
#include "audio.h"
#include "audiothread.h"
#include "boxwatcher.h"
#include "audioinput.h"
#include "audiooutput.h"
#include "dialog.h"
#include "dialogout.h"
#include "history.h"
#include "mainwindow.h"
#include "rtp.h"
#include "sdescrypto.h"
#include "settings.h"
#include "tlssiptransport.h"
#include "sip.h"
#include "sqlpeek.h"
#include "testmain.h"
#include "testphone.h"

#include <QAudioInput>
#include <QAudioOutput>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMediaPlayer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextBrowser>
#include <QtTest/qtestspontaneevent.h>

// A call control: the window ("in", "out", else the main one), the action, the call state, what it does.
struct Control { QString window, action, state, outcome; };
Q_DECLARE_METATYPE(Control)
// A settings entry: the field, the text put in, the caption of the refusal (empty: saved).
struct Entry { QString field, text, caption; };
Q_DECLARE_METATYPE(Entry)
// Signalling over TLS or not, SRTP media or not: the lock shown or not.
struct Lock { bool tls, srtp, locked; };
Q_DECLARE_METATYPE(Lock)

class TstMainWindow : public QObject
{
    Q_OBJECT
    Application *app = nullptr;
    MainWindow *w = nullptr;

    QString display() const { return TestPhone::widget<QTextBrowser>(w, "textBrowser")->toPlainText(); }
    void click(QWidget *window, const QByteArray &name) { TestPhone::widget<QPushButton>(window, name)->click(); }
    // A state by its name; "busy tone": the call ended and the busy timer runs.
    void setState(const QString &name)
    {
        for (CallState state : {CallState::Idle, CallState::Calling, CallState::Offered, CallState::Established, CallState::Ended})
            if (name == callStateName(state) || (name == "busy tone" && state == CallState::Ended))
                w->sip->dialog.callState = state;
        if (name == "busy tone")
            w->busyTimer->start(3000);
    }
    QLineEdit *edit(const char *name) const { return w->settings->findChild<QLineEdit *>(name); }
    QCheckBox *check(const char *name) const { return w->settings->findChild<QCheckBox *>(name); }
    // As the window system sends it: the user's close button, a re-map.
    void spontaneous(QWidget *window, QEvent &&event)
    {
        QSpontaneKeyEvent::setSpontaneous(&event);
        qApp->notify(window, &event);
    }
    QStringList listed(int tab)
    {
        TestPhone::widget<QTabWidget>(w->history, "tabWidget_80")->setCurrentIndex(tab);
        auto *table = TestPhone::widget<QTableWidget>(w->history, "tableWidget_8" + QByteArray::number(tab));
        QStringList numbers;
        for (int r = 0; r < table->rowCount(); ++r)
            numbers << table->item(r, 0)->text() + (table->item(r, 0)->icon().isNull() ? " without icon" : "");
        return numbers;
    }
    void shoot(QWidget *win, const QString &name, QSize size)
    {
        win->show();
        QVERIFY(QTest::qWaitForWindowExposed(win) && win->size() == size && win->maximumSize() == size);
        const QString dir = qEnvironmentVariable("SORVANTO_SCREENSHOTS");
        QVERIFY(dir.isEmpty() || (QDir().mkpath(dir) && win->grab().save(dir + "/" + name + ".png")));
    }

private slots:
    void initTestCase()
    {
        app = TestPhone::create(QString(), "5060", "101");
        w = app->window;
        QCOMPARE(w->windowTitle(), QString("Sorvanto - ")); // the form's caption until the load
        QVERIFY(SqlPeek(w->db.databaseName()).exec(
            "INSERT INTO history (called, ctime, time, info, encrypted) VALUES ('84951234567', '06.12.2026 10:15:02', "
            "'00:04:31', 'Out', 1), ('+79161234567', '05.12.2026 18:40:11', '00:00:00', 'Break', 0), ('201', "
            "'05.12.2026 09:02:45', '00:12:08', 'In', 0), ('84957654321', '31.12.2025 14:20:00', '00:01:10', 'Out', 0)"));
        app->start();
        QVERIFY(w->isVisible());
        QCOMPARE(w->windowTitle(), QString("Sorvanto - 101")); // loaded before the window shows
    }
    void cleanupTestCase() { delete app; }
    void init()
    {
        setState("ended");
        w->dialog->hide();
        w->dialogOut->hide();
        w->busyStop();
        w->settings->hide(); // shown afresh: the fields refilled from memory
        w->settings->show();
    }

    void windows()
    {
        QTest::keyClicks(w, "+7916123");
        w->setRegisteredPixmap(); // as after a registration
        shoot(w, "main-window", QSize(320, 734));
        w->called = "+79161234567";
        emit w->dialogWinShowSignal();
        shoot(w->dialog, "incoming-call", QSize(300, 240));
        shoot(w->history, "history", QSize(512, 550));
        QCOMPARE(listed(3) + listed(1) + listed(2) + listed(0), QStringList({"+79161234567", "201", "84957654321", "84951234567",
                 "84957654321", "84951234567", "+79161234567", "201"})); // all, by text: 31.12 first
        // A number searched among the outgoing calls: 201 came in, and a quote is bound as text, never pasted.
        TestPhone::widget<QTabWidget>(w->history, "tabWidget_80")->setCurrentIndex(2);
        for (const QString &number : QStringList{"84951234567", "201", "1' OR '1'='1"}) {
            TestPhone::widget<QLineEdit>(w->history, "lineEdit_82")->setText(number);
            click(w->history, "pushButton_83");
            QCOMPARE(listed(2), number.startsWith("849") ? QStringList{number} : QStringList());
        }
        shoot(w->settings, "settings-account", QSize(400, 777));
        w->settings->findChild<QTabWidget *>()->setCurrentIndex(1);
        shoot(w->settings, "settings-application", QSize(400, 777));
        w->settings->findChild<QTabWidget *>()->setCurrentIndex(0);
        w->history->hide();
    }

    // Call on a free line and answer in a ringing window: the real phone's calls (tst_phone).
    void callControl_data()
    {
        QTest::addColumn<Control>("row");
        QTest::newRow("call, ringing: answers") << Control{"", "pushButton_27", "offered", "answer"};
        QTest::newRow("call, talking") << Control{"", "pushButton_27", "established", ""};
        QTest::newRow("call, busy tone") << Control{"", "pushButton_27", "busy tone", ""};
        QTest::newRow("redial, ringing") << Control{"", "pushButton_22", "offered", ""};
        QTest::newRow("ringing, Esc: rejects") << Control{"in", "Esc", "offered", "hang up"};
        QTest::newRow("incoming, talking, close") << Control{"in", "close", "established", "hang up"};
        QTest::newRow("calling, Esc: cancels") << Control{"out", "Esc", "calling", "hang up"};
        QTest::newRow("busy tone, close: hides") << Control{"out", "close", "busy tone", ""};
        QTest::newRow("caller gone, answer") << Control{"in", "pushButton_30", "ended", ""};
    }
    void callControl()
    {
        QFETCH(Control, row);
        QWidget *shown = row.window == "in" ? static_cast<QWidget *>(w->dialog) : row.window == "out" ? static_cast<QWidget *>(w->dialogOut) : w;
        shown->show();
        w->called = "300";
        w->lastNumber = "301";
        setState(row.state);
        const QString callId = w->sip->dialog.callCallId, info = w->info; // a new INVITE takes new identifiers
        QSignalSpy answered(w->dialog, &Dialog::answerSignal), in(w->dialog, &Dialog::disconnectSignal),
            out(w->dialogOut, &DialogOut::disconnectSignal);
        row.action == "Esc" ? QTest::keyClick(shown, Qt::Key_Escape) : row.action == "close" ? spontaneous(shown, QCloseEvent()) : click(shown, row.action.toLatin1());
        QCOMPARE(QString(w->sip->dialog.callCallId != callId ? "invite" : !answered.isEmpty() ? "answer" : in.count() + out.count() ? "hang up" : ""), row.outcome);
        QCOMPARE(w->info, row.outcome == "answer" ? "In" : info);
        QVERIFY(row.action.startsWith("push") || !shown->isVisible());
        QVERIFY(row.outcome == "hang up" || w->called == "300");
    }

    // The caller gave up and Esc hid the window in the busy tone; a new caller rings with the main window in
    // the tray: its window shows without the reload (which would retitle the window after the stored user),
    // the caller as text, never markup; neither the old tone's end nor the program's own close of the window
    // may turn the new caller away.
    void nextCallerAfterEscInBusyTone()
    {
        w->dialog->show();
        setState("ended");
        emit w->busyStartSignal("Cancel");
        QTest::keyClick(w->dialog, Qt::Key_Escape);
        QSignalSpy in(w->dialog, &Dialog::disconnectSignal), out(w->dialogOut, &DialogOut::disconnectSignal);
        QVERIFY(SqlPeek(w->db.databaseName()).exec("UPDATE settings SET user = '102'"));
        w->called = "<i>300</i>";
        setState("offered");
        w->setWindowState(Qt::WindowMinimized);
        QCoreApplication::processEvents();
        emit w->dialogWinShowSignal();
        QCoreApplication::processEvents();
        QVERIFY(!w->busyTimer->isActive() && w->dialog->isVisible() && w->isVisible() && !w->isMinimized());
        QVERIFY(display().contains("<i>300</i>") && w->windowTitle() == "Sorvanto - 101");
        // A call window re-shown by the window manager keeps the record.
        for (QWidget *window : {static_cast<QWidget *>(w->dialog), static_cast<QWidget *>(w->dialogOut)}) {
            window->show();
            std::tie(w->info, w->currtime) = std::make_tuple("In", "01.01.2000 00:00:00");
            spontaneous(window, QShowEvent());
            QVERIFY(w->info == "In" && w->currtime == "01.01.2000 00:00:00");
            window->close();
        }
        QVERIFY(in.isEmpty() && out.isEmpty());
    }

    void talkTimeBusyAndRecord()
    {
        w->called = "201";
        click(w, "pushButton_27");
        emit w->audioStartSignal();
        // The pad's own buttons in the call send keys; the number called stays the call's.
        for (int pad : {10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 23, 24})
            click(w, "pushButton_" + QByteArray::number(pad));
        QVERIFY(w->called == "201" && w->sip->dialog.called == "201");
        QSignalSpy tick(w->talkTimer, &QTimer::timeout);
        QVERIFY(tick.wait(2000) && w->dialogOut->findChild<QLabel *>("label_41")->text() == "00:00:01" && display().contains("00:00:01"));
        setState("ended");
        emit w->busyStartSignal("486 Busy Here");
        QVERIFY(w->dialogOut->findChild<QLabel *>("label_42")->text() == "486 Busy Here" && !w->audioActive() && w->dialogOut->isVisible());
        QSignalSpy ended(w->busyTimer, &QTimer::timeout);
        QVERIFY(ended.wait(5000) && !w->dialogOut->isVisible() && w->called.isEmpty());
        QCOMPARE(SqlPeek(w->db.databaseName()).column("SELECT called || time || info FROM history ORDER BY id DESC")[0], "20100:00:01Out");
    }

    // A 183 without SDP plays the local ringback; one with SDP stops it for
    // the far end's own sound, and a later bare 183 does not bring it back.
    void earlyMediaStopsRingback()
    {
        w->called = "203";
        click(w, "pushButton_27");
        for (bool sdp : {false, true, false}) {
            w->sip->dialog.earlyMedia = w->sip->dialog.earlyMedia || sdp;
            emit w->rx183Signal();
            QCOMPARE(w->player->state() == QMediaPlayer::PlayingState, !w->sip->dialog.earlyMedia);
            QCOMPARE(w->audio->speakerRunning(), w->sip->dialog.earlyMedia);
        }
        w->audioStopSlot();
    }

    void lock_data()
    {
        QTest::addColumn<Lock>("row");
        QTest::newRow("UDP signalling, SRTP media") << Lock{false, true, false};
        QTest::newRow("TLS signalling, clear media") << Lock{true, false, false};
        QTest::newRow("TLS and SRTP") << Lock{true, true, true};
    }
    void lock()
    {
        QFETCH(Lock, row);
        SipTransport *kept = w->sip->transport;
        TlsSipTransport tls;
        if (row.tls)
            w->sip->transport = &tls;
        QLabel *lock = w->findChild<QLabel *>("lock");
        w->called = "202";
        w->info = "Out";
        const SdesCrypto ours = SdesCrypto::generate(1, SrtpSuite::AesCm128HmacSha1_80), theirs = SdesCrypto::generate(1, SrtpSuite::AesCm128HmacSha1_80);
        bool keyed = true;
        if (row.srtp)
            runOn(app->rtp, [&] { keyed = app->rtp->setSrtp(ours, theirs); });
        QVERIFY(keyed);
        QCoreApplication::sendPostedEvents(); // what the session said on its thread
        QCOMPARE(!lock->isHidden(), row.locked);
        emit w->audioStopSignal(); // the call ends: the keys go, the record is written
        w->sip->transport = kept;
        bool active = true;
        runOn(app->rtp, [&] { active = app->rtp->srtpActive(); });
        QCoreApplication::sendPostedEvents();
        QVERIFY(lock->isHidden() && !active);
        QCOMPARE(SqlPeek(w->db.databaseName()).column("SELECT called || encrypted FROM history ORDER BY id DESC")[0], QString("202%1").arg(int(row.locked)));
    }

    // Muted through the start of a call; unmuted, the sliders' levels return.
    void muteReachesDevices()
    {
        w->on_horizontalSlider_valueChanged(40);
        w->on_horizontalSlider_2_valueChanged(75);
        for (int levels : {0, 40075}) {
            click(w, "pushButton_1");
            click(w, "pushButton_3");
            w->audio->audioStart();
            QCOMPARE(qRound(w->audio->audioInput->audioInput->volume() * 100) * 1000
                         + qRound(w->audio->audioOutput->audioOutput->volume() * 100), levels);
        }
    }

    void settingsRoundTrip()
    {
        // column, field, value saved from the field, value loaded from the row
        const char *fields[][4] = {
            {"account", "lineEdit_51", "a1", "a2"}, {"sipServerIp", "lineEdit_52", "127.0.0.3", "127.0.0.4"},
            {"sipProxyIp", "lineEdit_53", "p1", "p2"}, {"sipServerPort", "lineEdit_64", "5071", "5072"}, {"user", "lineEdit_54", "u1", "u2"},
            {"domain", "lineEdit_55", "d1", "d2"}, {"login", "lineEdit_56", "l1", "l2"}, {"password", "lineEdit_57", "w1", "w2"},
            {"name", "lineEdit_58", "n1", "n2"}, {"voicemail", "lineEdit_59", "v1", "v2"}, {"prefix", "lineEdit_60", "x1", "x2"},
            {"plan", "lineEdit_61", "y1", "y2"}, {"registrTimeout", "lineEdit_62", "61", "62"}, {"keepAlive", "lineEdit_63", "1", "2"},
            {"mediaPort", "lineEdit_65", "40001", "40002"}, {"STUN", "lineEdit_67", "s1", "s2"}, {"hideCallerId", "checkBox", "true", "false"},
            {"codecPCMA", "checkBox_2", "false", "true"}, {"codecPCMU", "checkBox_3", "false", "true"}, {"useLog", "checkBox_5", "false", "true"},
            {"codecG722", "checkBox_6", "false", "true"}, {"codecOpus", "checkBox_7", "false", "true"}, {"echoCancel", "checkBox_8", "false", "true"}};
        for (auto &f : fields)
            check(f[1]) ? check(f[1])->setChecked(QByteArray(f[2]) == "true") : edit(f[1])->setText(f[2]);
        click(w->settings, "pushButton_51");
        SqlPeek row(w->db.databaseName());
        for (auto &f : fields) {
            QCOMPARE(row.column(QString("SELECT %1 FROM settings").arg(f[0])).value(0).toString(), QString(f[2]));
            QVERIFY(row.exec(QString("UPDATE settings SET %1 = ?").arg(f[0]), {f[3]}));
        }
        app->getSettingsDB_();
        w->settings->show();
        for (auto &f : fields)
            QCOMPARE(check(f[1]) ? QVariant(check(f[1])->isChecked()).toString() : edit(f[1])->text(), QString(f[3]));
    }

    void settingsNumbers_data()
    {
        QTest::addColumn<Entry>("row");
        // Each number field's smallest and largest value are saved, one beyond either is refused.
        const struct { const char *field, *caption; int min, max; } ranges[] = {
            {"lineEdit_62", "Обнов. регистр.", 60, 86400}, {"lineEdit_63", "Keep-Aalive", 0, 3600},
            {"lineEdit_64", "Sip-порт", 1024, 65535}, {"lineEdit_65", "Медиа порт", 1024, 65535}};
        for (const auto &r : ranges)
            for (int n : {r.min, r.max, r.min - 1, r.max + 1})
                QTest::addRow("%s %d", r.caption, n) << Entry{r.field, QString::number(n), n < r.min || n > r.max ? r.caption : ""};
        QTest::newRow("media port with a letter") << Entry{"lineEdit_65", "6x000", "Медиа порт"};
        // Required SRTP only over TLS: over UDP it would carry its keys in clear.
        QTest::newRow("SRTP over UDP") << Entry{"comboBox_62", "SRTP", "«Шифров. медиа»: SRTP требует транспорт TLS"};
        QTest::newRow("SRTP if possible over UDP") << Entry{"comboBox_62", "SRTP, если возможно", ""};
        QTest::newRow("no SRTP") << Entry{"comboBox_62", "Отключено", ""};
    }
    void settingsNumbers()
    {
        QFETCH(Entry, row);
        if (auto *box = w->settings->findChild<QComboBox *>(row.field)) {
            box->setCurrentText(row.text);
            QCOMPARE(box->currentText(), row.text);
        } else {
            QLineEdit *number = edit(row.field.toLatin1());
            number->clear();
            QTest::keyClicks(number, "a+1");
            QCOMPARE(number->text(), QString("1")); // digits only
            number->setText(row.text);
        }
        edit("lineEdit_51")->setText(row.text);
        BoxWatcher boxes;
        click(w->settings, "pushButton_51");
        QCOMPARE(boxes.texts.size(), row.caption.isEmpty() ? 0 : 1);
        QVERIFY(row.caption.isEmpty() ? !w->settings->isVisible() : boxes.texts[0].contains(row.caption) && w->settings->isVisible());
        QCOMPARE(SqlPeek(w->db.databaseName()).column("SELECT account FROM settings") == QVariantList{row.text}, row.caption.isEmpty());
    }
};

SORVANTO_TEST_MAIN(TstMainWindow)
#include "tst_mainwindow.moc"
