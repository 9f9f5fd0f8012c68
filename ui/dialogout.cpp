#include "dialogout.h"
#include "ui_dialogout.h"

#include "mainwindow.h"

#include <QDebug>
#include <QIcon>
#include <QShowEvent>

DialogOut::DialogOut(QWidget *parent)
    : CallWindow(parent), ui(new Ui::DialogOut)
{
    ui->setupUi(this);
    setParts(ui->label_40, ui->label_41, ui->label_42, ui->pushButton_40);
    setWindowIcon(QIcon(":/images/telephone.png"));
    moveToCenter();
}

DialogOut::~DialogOut()
{
    delete ui;
}

void DialogOut::showEvent(QShowEvent *event)
{
    qDebug() << "!!!!!!! DialogOut showEvent";
    QDialog::showEvent(event);
    // A show by the window manager (re-mapping the window) is not a new call.
    if (mainWindow && !event->spontaneous())
        mainWindow->outgoingCallAction();
    setIcons();
}

void DialogOut::on_pushButton_40_clicked()
{
    hangUp();
}
