#include "history.h"
#include "ui_history.h"

#include "historystore.h"
#include "mainwindow.h"

#include <QDebug>
#include <QHeaderView>
#include <QIcon>
#include <QShowEvent>
#include <QTableWidgetItem>

History::History(QWidget *parent)
    : QDialog(parent), ui(new Ui::History), mainWindow(qobject_cast<MainWindow *>(parent))
{
    ui->setupUi(this);
    for (QTableWidget *t : {ui->tableWidget_80, ui->tableWidget_81, ui->tableWidget_82, ui->tableWidget_83})
        t->viewport()->setCursor(Qt::PointingHandCursor);
}

History::~History()
{
    delete ui;
}

void History::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    qDebug() << "!!!!!!! History showEvent";
    setTableWidget();
}

void History::setTableWidget()
{
    const QIcon search(":/images/Search.svg");
    for (QPushButton *b : {ui->pushButton_81, ui->pushButton_82, ui->pushButton_83, ui->pushButton_84}) {
        b->setIcon(search);
        b->setIconSize(QSize(25, 25));
    }
    fillAllCallsTableWidget();
}

History::Tab History::tab(int index) const
{
    switch (index) {
    case 1: return {ui->tableWidget_81, ui->lineEdit_81, "In", "In called = ", "!!!!! In Calls: ", ":/images/In.svg"};
    case 2: return {ui->tableWidget_82, ui->lineEdit_82, "Out", "Out called = ", "!!!!! Out Calls: ", ":/images/Out.svg"};
    case 3: return {ui->tableWidget_83, ui->lineEdit_83, "Break", "Break called = ", "!!!!! Break Calls: ", ":/images/Break.svg"};
    default: return {ui->tableWidget_80, ui->lineEdit_80, QString(), "All called = ", "!!!!! All Calls: ", QString()};
    }
}

void History::fillAllCallsTableWidget() { fillTab(0); }
void History::fillInCallsTableWidget() { fillTab(1); }
void History::fillOutCallsTableWidget() { fillTab(2); }
void History::fillBreakCallsTableWidget() { fillTab(3); }

void History::fillRows(const Tab &t, const QVector<HistoryRecord> &rows)
{
    static const QIcon in(":/images/In.svg"), out(":/images/Out.svg"), brk(":/images/Break.svg"),
        lock(":/images/Lock.svg");
    t.table->setRowCount(rows.size());
    int r = 0;
    for (const HistoryRecord &row : rows) {
        qDebug() << t.rowLabel + row.called << " currtime = " + row.ctime << " time = " + row.time
                 << " info = " + row.info;
        QIcon icon;
        if (!t.icon.isEmpty())
            icon = QIcon(t.icon);
        else
            icon = row.info == "Out" ? out : row.info == "In" ? in : brk;
        t.table->setItem(r, 0, new QTableWidgetItem(icon, row.called));
        t.table->setItem(r, 1, new QTableWidgetItem(row.ctime));
        // An encrypted call carries the lock beside its talk time.
        auto *talk = new QTableWidgetItem(row.encrypted ? lock : QIcon(), row.time);
        if (row.encrypted)
            talk->setToolTip(QStringLiteral("Зашифрован"));
        t.table->setItem(r, 2, talk);
        ++r;
    }
    for (int c = 0; c < 3; ++c)
        t.table->resizeColumnToContents(c);
}

void History::fillTab(int index)
{
    const Tab t = tab(index);
    t.table->clear();
    t.table->setRowCount(0);
    t.table->setColumnCount(3);
    t.table->setShowGrid(true);
    t.table->horizontalHeader()->setStyleSheet("QHeaderView { font-size: 16px; }");
    t.table->setSelectionMode(QAbstractItemView::SingleSelection);
    t.table->setSelectionBehavior(QAbstractItemView::SelectRows);
    t.table->setHorizontalHeaderLabels({"Номер", "Время", "Длительность"});
    if (!mainWindow)
        return;
    const QVector<HistoryRecord> rows = HistoryStore(mainWindow->db).calls(t.info);
    qDebug() << "count = " << rows.size();
    fillRows(t, rows);
}

void History::searchTab(int index)
{
    const Tab t = tab(index);
    const QString text = t.search->text();
    if (text.isEmpty() || !mainWindow)
        return;
    qDebug() << t.searchLabel + text;
    fillRows(t, HistoryStore(mainWindow->db).calls(t.info, text));
}

void History::on_tabWidget_80_currentChanged(int index)
{
    qDebug() << "index = " << index;
    if (index >= 0 && index <= 3)
        fillTab(index);
}

void History::on_pushButton_81_clicked() { searchTab(0); }
void History::on_pushButton_82_clicked() { searchTab(1); }
void History::on_pushButton_83_clicked() { searchTab(2); }
void History::on_pushButton_84_clicked() { searchTab(3); }
