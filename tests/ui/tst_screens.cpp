// Every window renders at its fixed size in its characteristic states. With
// SORVANTO_SCREENSHOTS set to a directory, each state is also saved there as a
// PNG (scripts/screenshots runs it so under Xvfb).
#include "audio.h"
#include "dialog.h"
#include "dialogout.h"
#include "history.h"
#include "mainwindow.h"
#include "settings.h"
#include "sip.h"
#include "testmain.h"
#include "testphone.h"

#include <QDir>
#include <QPushButton>
#include <QSqlQuery>
#include <QTabWidget>
#include <QtTest>

class TstScreens : public QObject
{
    Q_OBJECT
    MainWindow *w = nullptr;
    QString dir = qEnvironmentVariable("SORVANTO_SCREENSHOTS");

    void shoot(QWidget *win, const QString &name, QSize size)
    {
        QVERIFY(QTest::qWaitForWindowExposed(win));
        QCOMPARE(win->size(), size);
        QCOMPARE(win->maximumSize(), size);
        const QPixmap shot = win->grab();
        QVERIFY(!shot.isNull());
        if (!dir.isEmpty())
            QVERIFY(shot.save(QDir(dir).absoluteFilePath(name + ".png")));
    }

private slots:
    void initTestCase()
    {
        if (!dir.isEmpty())
            QDir().mkpath(dir);
        w = TestPhone::create();
        w->user = "101";
        w->updateSettingsDB();
        QSqlQuery q(w->db);
        QVERIFY(q.exec("INSERT INTO history (called, ctime, time, info) VALUES "
                       "('84951234567', '06.12.2026 10:15:02', '00:04:31', 'Out'), "
                       "('+79161234567', '05.12.2026 18:40:11', '00:00:00', 'Break'), "
                       "('201', '05.12.2026 09:02:45', '00:12:08', 'In'), "
                       "('84957654321', '04.12.2026 14:20:00', '00:01:10', 'Out'), "
                       "('202', '03.12.2026 11:11:11', '00:00:00', 'Break')"));
        w->show();
    }
    void cleanupTestCase() { delete w; }

    void mainWindow()
    {
        shoot(w, "main-unregistered", QSize(320, 734));
        w->audio->sip->registered = true;
        emit w->registeredSignal();
        shoot(w, "main-registered", QSize(320, 734));
        for (int k : {Qt::Key_Plus, Qt::Key_7, Qt::Key_9, Qt::Key_1, Qt::Key_6, Qt::Key_1, Qt::Key_2, Qt::Key_3})
            QTest::keyClick(w, Qt::Key(k));
        shoot(w, "main-dialling", QSize(320, 734));
        QTest::mouseClick(TestPhone::widget<QPushButton>(w, "pushButton_2"), Qt::LeftButton);
        shoot(w, "main-volume", QSize(320, 734));
        QTest::mouseClick(TestPhone::widget<QPushButton>(w, "pushButton_2"), Qt::LeftButton);
    }

    void callWindows()
    {
        w->called = "84951234567";
        w->dialogOut->setNum(w->called);
        w->dialogOut->show();
        w->time = "00:01:23";
        w->displayUpdate();
        shoot(w, "main-talking", QSize(320, 734));
        shoot(w->dialogOut, "outgoing-talking", QSize(300, 240));
        w->dialogOut->setCause("486 Busy Here");
        shoot(w->dialogOut, "outgoing-cause", QSize(300, 240));
        w->dialogOut->close();

        w->called = "+79161234567";
        emit w->dialogWinShowSignal();
        emit w->ringtonStopSignal();
        shoot(w->dialog, "incoming", QSize(300, 240));
        w->dialog->close();
        w->called.clear();
        w->displayIdle();
    }

    void historyTabs()
    {
        w->history->show();
        auto *tabs = TestPhone::widget<QTabWidget>(w->history, "tabWidget_80");
        const char *names[] = {"history-all", "history-in", "history-out", "history-missed"};
        for (int i = 0; i < 4; ++i) {
            tabs->setCurrentIndex(i);
            shoot(w->history, names[i], QSize(512, 550));
        }
        tabs->setCurrentIndex(0);
        w->history->close();
    }

    void settingsTabs()
    {
        w->sipServerIp = "127.0.0.1";
        w->login = "101";
        w->settings->show();
        auto *tabs = w->settings->findChild<QTabWidget *>();
        QVERIFY(tabs);
        tabs->setCurrentIndex(0);
        shoot(w->settings, "settings-account", QSize(400, 745));
        tabs->setCurrentIndex(1);
        shoot(w->settings, "settings-application", QSize(400, 745));
        w->settings->close();
    }
};

SORVANTO_TEST_MAIN(TstScreens)
#include "tst_screens.moc"
