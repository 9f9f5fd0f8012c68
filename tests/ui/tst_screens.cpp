// Every window the README shows renders at its fixed size. With
// SORVANTO_SCREENSHOTS set to a directory, each is also saved there as a PNG
// (scripts/screenshots runs it so under Xvfb).
#include "audio.h"
#include "dialog.h"
#include "history.h"
#include "mainwindow.h"
#include "settings.h"
#include "sip.h"
#include "testmain.h"
#include "testphone.h"

#include <QSqlQuery>
#include <QTabWidget>

class TstScreens : public QObject
{
    Q_OBJECT

    void shoot(QWidget *win, const QString &name, QSize size)
    {
        win->show();
        QVERIFY(QTest::qWaitForWindowExposed(win));
        QVERIFY(win->size() == size && win->maximumSize() == size);
        const QString dir = qEnvironmentVariable("SORVANTO_SCREENSHOTS");
        QVERIFY(dir.isEmpty() || (QDir().mkpath(dir) && win->grab().save(dir + "/" + name + ".png")));
    }

private slots:
    void windows()
    {
        MainWindow *w = TestPhone::create(QString(), "5060", "101");
        QVERIFY(QSqlQuery(w->db).exec(
            "INSERT INTO history (called, ctime, time, info) VALUES ('84951234567', '06.12.2026 10:15:02', '00:04:31', "
            "'Out'), ('+79161234567', '05.12.2026 18:40:11', '00:00:00', 'Break'), ('201', '05.12.2026 09:02:45', "
            "'00:12:08', 'In'), ('84957654321', '04.12.2026 14:20:00', '00:01:10', 'Out')"));
        w->show();
        QTRY_COMPARE(w->windowTitle(), QString("Sorvanto - 101")); // loaded, styled
        w->audio->sip->registered = true;
        emit w->registeredSignal();
        QTest::keyClicks(w, "+79161234");
        shoot(w, "main-window", QSize(320, 734));
        w->called = "+79161234567";
        emit w->dialogWinShowSignal();
        emit w->ringtonStopSignal();
        shoot(w->dialog, "incoming-call", QSize(300, 240));
        w->dialog->hide();
        shoot(w->history, "history", QSize(512, 550));
        auto *tabs = w->settings->findChild<QTabWidget *>();
        shoot(w->settings, "settings-account", QSize(400, 745));
        tabs->setCurrentIndex(1);
        shoot(w->settings, "settings-application", QSize(400, 745));
        delete w;
    }
};

SORVANTO_TEST_MAIN(TstScreens)
#include "tst_screens.moc"
