// The history window: each tab lists its kind in descending order of the
// start-time text with the kind's icon; search finds the whole number in the
// tab's kind, an empty text changes nothing, a quote is plain text; showing
// refills "Все" whatever tab is current.
#include "history.h"
#include "mainwindow.h"
#include "testmain.h"
#include "testphone.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTableWidget>

class TstHistory : public QObject
{
    Q_OBJECT
    MainWindow *w = nullptr;

    // The numbers of a tab, after a search when `text` is given; "*" marks an icon.
    QStringList rows(int tab, const char *text = nullptr)
    {
        const QByteArray n = QByteArray::number(tab);
        if (text) {
            TestPhone::widget<QLineEdit>(w->history, "lineEdit_8" + n)->setText(text);
            TestPhone::widget<QPushButton>(w->history, "pushButton_8" + QByteArray::number(tab + 1))->click();
        }
        auto *table = TestPhone::widget<QTableWidget>(w->history, "tableWidget_8" + n);
        QStringList out;
        for (int r = 0; r < table->rowCount(); ++r)
            out << table->item(r, 0)->text() + (table->item(r, 0)->icon().isNull() ? "" : "*");
        return out;
    }
    void add(const QString &values) { QVERIFY(QSqlQuery(w->db).exec("INSERT INTO history (called, ctime, time, info) VALUES " + values)); }

private slots:
    void initTestCase()
    {
        w = TestPhone::create();
        // Text order, not date order: the 31st sorts before the 5th.
        add("('123', '05.01.2025 10:00:00', '00:01:00', 'Out'), ('123', '31.12.2024 10:00:00', '00:01:00', 'Out'), "
            "('777', '20.06.2024 09:00:00', '00:01:00', 'In'), ('555', '10.03.2024 08:00:00', '00:00:00', 'Break'), "
            "('1234', '30.01.2024 08:00:00', '00:01:00', 'Out')");
        w->history->show();
    }
    void cleanupTestCase() { delete w; }

    void tabs_data()
    {
        QTest::addColumn<int>("tab");
        QTest::addColumn<QStringList>("numbers");
        QTest::newRow("all") << 0 << QStringList{"123*", "1234*", "777*", "555*", "123*"};
        QTest::newRow("in") << 1 << QStringList{"777*"};
        QTest::newRow("out") << 2 << QStringList{"123*", "1234*", "123*"};
        QTest::newRow("missed") << 3 << QStringList{"555*"};
    }
    void tabs()
    {
        QFETCH(int, tab);
        QFETCH(QStringList, numbers);
        TestPhone::widget<QTabWidget>(w->history, "tabWidget_80")->setCurrentIndex(tab);
        QCOMPARE(rows(tab), numbers);
    }

    void searchAndShow()
    {
        QCOMPARE(rows(0, "123"), QStringList({"123*", "123*"}));
        QCOMPARE(rows(1, "123"), QStringList());
        QCOMPARE(rows(0, ""), QStringList({"123*", "123*"}));
        QCOMPARE(rows(0, "1' OR '1'='1"), QStringList());
        TestPhone::widget<QTabWidget>(w->history, "tabWidget_80")->setCurrentIndex(1);
        w->history->close();
        add("('778', '21.06.2024 09:00:00', '00:01:00', 'In')");
        w->history->show();
        QVERIFY(rows(0).size() == 6 && rows(1).size() == 1);
    }
};

SORVANTO_TEST_MAIN(TstHistory)
#include "tst_history.moc"
