#ifndef HISTORY_H
#define HISTORY_H

// Call-history window: four tabs (all, incoming, outgoing, missed), each with
// a table read from the history table and a search by exact number.

#include <QDialog>
#include <QVector>

struct HistoryRecord;
class MainWindow;
class QLineEdit;
class QShowEvent;
class QTableWidget;

QT_BEGIN_NAMESPACE
namespace Ui { class History; }
QT_END_NAMESPACE

class History : public QDialog
{
    Q_OBJECT

public:
    explicit History(QWidget *parent);
    ~History() override;

    void setTableWidget();
    void fillAllCallsTableWidget();
    void fillInCallsTableWidget();
    void fillOutCallsTableWidget();
    void fillBreakCallsTableWidget();

    Ui::History *ui = nullptr;
    MainWindow *mainWindow = nullptr;

private slots:
    void on_tabWidget_80_currentChanged(int index);
    void on_pushButton_81_clicked();
    void on_pushButton_82_clicked();
    void on_pushButton_83_clicked();
    void on_pushButton_84_clicked();

protected:
    void showEvent(QShowEvent *event) override;

private:
    // One tab's description: its widgets, the filter on `info` and the labels.
    struct Tab {
        QTableWidget *table;
        QLineEdit *search;
        QString info;       // "" for every call, or "In", "Out", "Break"
        QString rowLabel;   // "All called = " ...
        QString searchLabel; // "!!!!! All Calls: " ...
        QString icon;       // fixed icon, or "" to choose by kind
    };
    Tab tab(int index) const;
    void fillTab(int index);
    void searchTab(int index);
    void fillRows(const Tab &t, const QVector<HistoryRecord> &rows);
};

#endif // HISTORY_H
