#include "history.h"
#include "ui_history.h"

#include "mainwindow.h"

#include <QDebug>
#include <QHeaderView>
#include <QIcon>
#include <QShowEvent>
#include <QSqlQuery>
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
    case 1: return {ui->tableWidget_81, ui->lineEdit_81, "info = 'In'", "In called = ", "!!!!! In Calls: ", ":/images/In.svg"};
    case 2: return {ui->tableWidget_82, ui->lineEdit_82, "info = 'Out'", "Out called = ", "!!!!! Out Calls: ", ":/images/Out.svg"};
    case 3: return {ui->tableWidget_83, ui->lineEdit_83, "info = 'Break'", "Break called = ", "!!!!! Break Calls: ", ":/images/Break.svg"};
    default: return {ui->tableWidget_80, ui->lineEdit_80, QString(), "All called = ", "!!!!! All Calls: ", QString()};
    }
}

void History::fillAllCallsTableWidget() { fillTab(0); }
void History::fillInCallsTableWidget() { fillTab(1); }
void History::fillOutCallsTableWidget() { fillTab(2); }
void History::fillBreakCallsTableWidget() { fillTab(3); }

static int countRows(QSqlQuery &query)
{
    int n = 0;
    while (query.next())
        ++n;
    return n;
}

void History::fillRows(const Tab &t, QSqlQuery &query)
{
    static const QIcon in(":/images/In.svg"), out(":/images/Out.svg"), brk(":/images/Break.svg");
    int r = 0;
    while (query.next()) {
        const QString called = query.value(1).toString();
        const QString ctime = query.value(2).toString();
        const QString time = query.value(3).toString();
        const QString info = query.value(4).toString();
        qDebug() << t.rowLabel + called << " currtime = " + ctime << " time = " + time << " info = " + info;
        // The table was sized from the count statement; grow it rather than drop a row.
        if (r >= t.table->rowCount())
            t.table->setRowCount(r + 1);
        QIcon icon;
        if (!t.icon.isEmpty())
            icon = QIcon(t.icon);
        else
            icon = info == "Out" ? out : info == "In" ? in : brk;
        t.table->setItem(r, 0, new QTableWidgetItem(icon, called));
        t.table->setItem(r, 1, new QTableWidgetItem(ctime));
        t.table->setItem(r, 2, new QTableWidgetItem(time));
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

    const QString base = t.where.isEmpty() ? QString("SELECT * FROM history")
                                           : QString("SELECT * FROM history WHERE ") + t.where;
    QSqlQuery query(mainWindow->db);
    if (!query.exec(base))
        return;
    const int count = countRows(query);
    t.table->setRowCount(count);
    qDebug() << "count = " << count;
    if (!query.exec(base + " ORDER BY ctime DESC"))
        return;
    fillRows(t, query);
}

void History::searchTab(int index)
{
    const Tab t = tab(index);
    const QString text = t.search->text();
    if (text.isEmpty() || !mainWindow)
        return;
    qDebug() << t.searchLabel + text;

    // The number is bound, never pasted into the statement: a quote in it
    // must not end the literal.
    QString base = "SELECT * FROM history WHERE ";
    if (!t.where.isEmpty())
        base += t.where + " AND ";
    base += "called = ?";
    QSqlQuery query(mainWindow->db);
    if (!query.prepare(base))
        return;
    query.addBindValue(text);
    if (!query.exec())
        return;
    const int count = countRows(query);
    t.table->setRowCount(count);
    if (!query.prepare(base + " ORDER BY ctime DESC"))
        return;
    query.addBindValue(text);
    if (!query.exec())
        return;
    fillRows(t, query);
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
