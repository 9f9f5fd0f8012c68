#ifndef DIALOGOUT_H
#define DIALOGOUT_H

// Outgoing-call window: number, talk time, cause and hang-up.

#include <QDialog>

class MainWindow;
class QCloseEvent;
class QShowEvent;

QT_BEGIN_NAMESPACE
namespace Ui { class DialogOut; }
QT_END_NAMESPACE

class DialogOut : public QDialog
{
    Q_OBJECT

public:
    explicit DialogOut(QWidget *parent);
    ~DialogOut() override;

    void setNum(QString num);
    void setTime(QString time);
    void setCause(QString cause);
    void moveToCenter();

    Ui::DialogOut *ui = nullptr;
    MainWindow *mainWindow = nullptr;

signals:
    void disconnectSignal();

private slots:
    void on_pushButton_40_clicked();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void reject() override;
};

#endif // DIALOGOUT_H
