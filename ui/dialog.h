#ifndef DIALOG_H
#define DIALOG_H

// Incoming-call window: number, talk time, cause, answer and hang-up.

#include <QDialog>

class MainWindow;
class QCloseEvent;
class QShowEvent;

QT_BEGIN_NAMESPACE
namespace Ui { class Dialog; }
QT_END_NAMESPACE

class Dialog : public QDialog
{
    Q_OBJECT

public:
    explicit Dialog(QWidget *parent);
    ~Dialog() override;

    void setNum(QString num);
    void setTime(QString time);
    void setCause(QString cause);
    void moveToCenter();
    // The answer button: only a call that still rings is answered.
    void answer();

    Ui::Dialog *ui = nullptr;
    MainWindow *mainWindow = nullptr;

signals:
    void answerSignal();
    void disconnectSignal();

private slots:
    void on_pushButton_30_clicked();
    void on_pushButton_31_clicked();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void reject() override;
};

#endif // DIALOG_H
