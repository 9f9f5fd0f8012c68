#include "dialogout.h"
#include "ui_dialogout.h"

#include "mainwindow.h"

#include <QCloseEvent>
#include <QDebug>
#include <QGuiApplication>
#include <QIcon>
#include <QScreen>
#include <QShowEvent>

DialogOut::DialogOut(QWidget *parent)
    : QDialog(parent), ui(new Ui::DialogOut), mainWindow(qobject_cast<MainWindow *>(parent))
{
    ui->setupUi(this);
    if (mainWindow)
        connect(this, &DialogOut::disconnectSignal, mainWindow, &MainWindow::disconnectSlot);
    setWindowIcon(QIcon(":/images/telephone.png"));
    moveToCenter();
}

DialogOut::~DialogOut()
{
    delete ui;
}

void DialogOut::setNum(QString num) { ui->label_40->setText(num); }
void DialogOut::setTime(QString time) { ui->label_41->setText(time); }
void DialogOut::setCause(QString cause) { ui->label_42->setText(cause); }

void DialogOut::moveToCenter()
{
    QScreen *s = screen();
    if (!s)
        s = QGuiApplication::primaryScreen();
    if (!s)
        return;
    const QRect r = s->availableGeometry();
    move((r.left() + r.right()) / 2 - width() / 2 + 6, (r.top() + r.bottom()) / 2 - height() / 2);
}

void DialogOut::showEvent(QShowEvent *event)
{
    qDebug() << "!!!!!!! DialogOut showEvent";
    QDialog::showEvent(event);
    // A show by the window manager (re-mapping the window) is not a new call.
    if (mainWindow && !event->spontaneous())
        mainWindow->outgoingCallAction();
    setWindowIcon(QIcon(":/images/telephone.png"));
    ui->pushButton_40->setIcon(QIcon(":/images/Disconnect.svg"));
    ui->pushButton_40->setIconSize(QSize(60, 60));
}

void DialogOut::on_pushButton_40_clicked()
{
    qDebug() << "pushButton disconnect clicked";
    emit disconnectSignal();
}

// Only the user's close (from the window system) is the hang-up button. The
// program closes the window at the end of a call; by then the call on the line
// may be the next one, which that close must not end.
void DialogOut::closeEvent(QCloseEvent *event)
{
    if (event->spontaneous())
        QDialog::closeEvent(event);
}

// Esc and the window manager's close are the hang-up button: a call is never
// left running behind a hidden window.
void DialogOut::reject()
{
    if (mainWindow && mainWindow->callInProgress())
        on_pushButton_40_clicked();
    QDialog::reject();
}
