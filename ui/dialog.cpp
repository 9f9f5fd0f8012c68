#include "dialog.h"
#include "ui_dialog.h"

#include "mainwindow.h"

#include <QDebug>
#include <QIcon>
#include <QShowEvent>

Dialog::Dialog(QWidget *parent)
    : CallWindow(parent), ui(new Ui::Dialog)
{
    ui->setupUi(this);
    setParts(ui->label_30, ui->label_31, ui->label_32, ui->pushButton_31);
    if (mainWindow)
        connect(this, &Dialog::answerSignal, mainWindow, &MainWindow::answerSlot);
    moveToCenter();
}

Dialog::~Dialog()
{
    delete ui;
}

void Dialog::showEvent(QShowEvent *event)
{
    qDebug() << "!!!!!!! Dialog showEvent";
    QDialog::showEvent(event);
    // Shown but not yet answered: the call counts as missed until answer is pressed.
    // A show by the window manager (re-mapping the window) is not a new call.
    if (mainWindow && !event->spontaneous())
        mainWindow->breakCallAction();
    setIcons();
    ui->pushButton_30->setIcon(QIcon(":/images/Answer.svg"));
    ui->pushButton_30->setIconSize(QSize(60, 60));
}

void Dialog::on_pushButton_30_clicked()
{
    qDebug() << "pushButton answer clicked";
    answer();
}

void Dialog::answer()
{
    // After the caller gave up the record stays "Break" and nothing is sent.
    if (!mainWindow || !mainWindow->callRinging())
        return;
    mainWindow->incomingCallAction();
    emit answerSignal();
}

void Dialog::on_pushButton_31_clicked()
{
    hangUp();
}
