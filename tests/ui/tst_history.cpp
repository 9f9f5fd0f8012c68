// The history window: each tab lists its kind in descending order of the
// start-time text with the kind's icon; search finds the whole number only and
// treats quotes as plain text.
#include "history.h"
#include "mainwindow.h"
#include "testmain.h"
#include "testphone.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>

class TstHistory : public QObject
{
    Q_OBJECT
    MainWindow *w = nullptr;

    QTableWidget *table(int tab) const
    {
        return TestPhone::widget<QTableWidget>(w->history, QByteArray("tableWidget_8" + QByteArray::number(tab)));
    }
    QStringList column(int tab, int col) const
    {
        QStringList out;
        for (int r = 0; r < table(tab)->rowCount(); ++r)
            out << (table(tab)->item(r, col) ? table(tab)->item(r, col)->text() : QString());
        return out;
    }
    void addCall(const QString &called, const QString &ctime, const QString &info)
    {
        QSqlQuery q(w->db);
        QVERIFY(q.exec(QString("INSERT INTO history (called, ctime, time, info) VALUES ('%1', '%2', '00:01:00', '%3')")
                           .arg(called, ctime, info)));
    }
    void search(int tab, const QString &text) const
    {
        TestPhone::widget<QLineEdit>(w->history, QByteArray("lineEdit_8" + QByteArray::number(tab)))->setText(text);
        QTest::mouseClick(TestPhone::widget<QPushButton>(w->history, QByteArray("pushButton_8" + QByteArray::number(tab + 1))),
                          Qt::LeftButton);
    }

private slots:
    void initTestCase() { w = TestPhone::create(); }
    void cleanupTestCase() { delete w; }

    void tabs_data()
    {
        QTest::addColumn<int>("tab");
        QTest::addColumn<QStringList>("numbers");
        QTest::newRow("all") << 0 << QStringList{"123", "1234", "777", "555", "123"};
        QTest::newRow("in") << 1 << QStringList{"777"};
        QTest::newRow("out") << 2 << QStringList{"123", "1234", "123"};
        QTest::newRow("missed") << 3 << QStringList{"555"};
    }
    void tabs()
    {
        QFETCH(int, tab);
        QFETCH(QStringList, numbers);
        static bool filled = false;
        if (!filled) {
            // Text order, not date order: the 31st sorts before the 5th.
            addCall("123", "05.01.2025 10:00:00", "Out");
            addCall("123", "31.12.2024 10:00:00", "Out");
            addCall("777", "20.06.2024 09:00:00", "In");
            addCall("555", "10.03.2024 08:00:00", "Break");
            addCall("1234", "30.01.2024 08:00:00", "Out");
            filled = true;
        }
        QTabWidget *tabs = TestPhone::widget<QTabWidget>(w->history, "tabWidget_80");
        w->history->show();
        tabs->setCurrentIndex(tab);
        if (tab == 0)
            w->history->fillAllCallsTableWidget();
        QCOMPARE(column(tab, 0), numbers);
        QCOMPARE(table(tab)->item(0, 2)->text(), QString("00:01:00"));
        QVERIFY(!table(tab)->item(0, 0)->icon().isNull());
        tabs->setCurrentIndex(0);
    }

    // Search finds the whole number in the tab's kind; an empty text changes nothing; a quote is plain text.
    void searchTexts()
    {
        w->history->show();
        search(0, "123");
        QCOMPARE(column(0, 0), (QStringList{"123", "123"}));
        search(1, "123");
        QCOMPARE(table(1)->rowCount(), 0);
        search(0, "");
        QCOMPARE(table(0)->rowCount(), 2);
        search(0, "1' OR '1'='1");
        QCOMPARE(table(0)->rowCount(), 0);
        QCOMPARE(table(0)->columnCount(), 3);
    }

    // Showing refills "Все" only, whatever tab is current.
    void showRefreshesAllTab()
    {
        QTabWidget *tabs = TestPhone::widget<QTabWidget>(w->history, "tabWidget_80");
        tabs->setCurrentIndex(1);
        w->history->close();
        addCall("778", "21.06.2024 09:00:00", "In");
        w->history->show();
        QCOMPARE(table(0)->rowCount(), 6);
        QCOMPARE(table(1)->rowCount(), 1);
        w->history->close();
    }
};

SORVANTO_TEST_MAIN(TstHistory)
#include "tst_history.moc"
