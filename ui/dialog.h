#ifndef DIALOG_H
#define DIALOG_H

// Incoming-call window: number, talk time, cause, answer and hang-up.

#include "callwindow.h"

QT_BEGIN_NAMESPACE
namespace Ui { class Dialog; }
QT_END_NAMESPACE

class Dialog : public CallWindow
{
    Q_OBJECT

public:
    explicit Dialog(QWidget *parent);
    ~Dialog() override;

    // The answer button: only a call that still rings is answered.
    void answer();

    Ui::Dialog *ui = nullptr;

signals:
    void answerSignal();

private slots:
    void on_pushButton_30_clicked();
    void on_pushButton_31_clicked();

protected:
    void showEvent(QShowEvent *event) override;
};

#endif // DIALOG_H
