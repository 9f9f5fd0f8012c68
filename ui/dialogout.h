#ifndef DIALOGOUT_H
#define DIALOGOUT_H

// Outgoing-call window: number, talk time, cause and hang-up.

#include "callwindow.h"

QT_BEGIN_NAMESPACE
namespace Ui { class DialogOut; }
QT_END_NAMESPACE

class DialogOut : public CallWindow
{
    Q_OBJECT

public:
    explicit DialogOut(QWidget *parent);
    ~DialogOut() override;

    Ui::DialogOut *ui = nullptr;

private slots:
    void on_pushButton_40_clicked();

protected:
    void showEvent(QShowEvent *event) override;
};

#endif // DIALOGOUT_H
