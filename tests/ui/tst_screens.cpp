// Every window the README shows renders at its fixed size (with
// SORVANTO_SCREENSHOTS set to a directory, each is saved there as a PNG;
// scripts/screenshots runs it so under Xvfb). The history's tabs list their
// kind by descending start-time text, with the kind's icon.
#include "dialog.h"
#include "history.h"
#include "application.h"
#include "mainwindow.h"
#include "settings.h"
#include "testmain.h"
#include "testphone.h"

#include <QSqlQuery>
#include <QTabWidget>
#include <QTableWidget>

class TstScreens : public QObject
{
    Q_OBJECT
    Application *app = nullptr;
    MainWindow *w = nullptr;

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
        QVERIFY(QSqlQuery(w->db).exec("INSERT INTO history (called, ctime, time, info, encrypted) VALUES "
                                      "('84951234567', '06.12.2026 10:15:02', '00:04:31', 'Out', 1), ('+79161234567', "
                                      "'05.12.2026 18:40:11', '00:00:00', 'Break', 0), "
                                      "('201', '05.12.2026 09:02:45', '00:12:08', 'In', 0), "
                                      "('84957654321', '31.12.2025 14:20:00', '00:01:10', 'Out', 0)"));
        app->start();
        QTRY_COMPARE(w->windowTitle(), QString("Sorvanto - 101")); // loaded and styled
    }
    void cleanupTestCase() { delete app; }

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
        shoot(w->settings, "settings-account", QSize(400, 777));
        w->settings->findChild<QTabWidget *>()->setCurrentIndex(1);
        shoot(w->settings, "settings-application", QSize(400, 777));
    }
};

SORVANTO_TEST_MAIN(TstScreens)
#include "tst_screens.moc"
