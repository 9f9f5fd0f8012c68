#include "dialog.h"
#include "ui_dialog.h"

#include "mainwindow.h"

#include <QCloseEvent>
#include <QDebug>
#include <QGuiApplication>
#include <QIcon>
#include <QScreen>
#include <QShowEvent>

Dialog::Dialog(QWidget *parent)
    : QDialog(parent), ui(new Ui::Dialog), mainWindow(qobject_cast<MainWindow *>(parent))
{
    ui->setupUi(this);
    if (mainWindow) {
        connect(this, &Dialog::answerSignal, mainWindow, &MainWindow::answerSlot);
        connect(this, &Dialog::disconnectSignal, mainWindow, &MainWindow::disconnectSlot);
    }
    moveToCenter();
}

Dialog::~Dialog()
{
    delete ui;
}

void Dialog::setNum(QString num) { ui->label_30->setText(num); }
void Dialog::setTime(QString time) { ui->label_31->setText(time); }
void Dialog::setCause(QString cause) { ui->label_32->setText(cause); }

void Dialog::moveToCenter()
{
    QScreen *s = screen();
    if (!s)
        s = QGuiApplication::primaryScreen();
    if (!s)
        return;
    const QRect r = s->availableGeometry();
    move((r.left() + r.right()) / 2 - width() / 2 + 6, (r.top() + r.bottom()) / 2 - height() / 2);
}

void Dialog::showEvent(QShowEvent *event)
{
    qDebug() << "!!!!!!! Dialog showEvent";
    QDialog::showEvent(event);
    // Shown but not yet answered: the call counts as missed until answer is pressed.
    // A show by the window manager (re-mapping the window) is not a new call.
    if (mainWindow && !event->spontaneous())
        mainWindow->breakCallAction();
    setWindowIcon(QIcon(":/images/telephone.png"));
    ui->pushButton_30->setIcon(QIcon(":/images/Answer.svg"));
    ui->pushButton_30->setIconSize(QSize(60, 60));
    ui->pushButton_31->setIcon(QIcon(":/images/Disconnect.svg"));
    ui->pushButton_31->setIconSize(QSize(60, 60));
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
    qDebug() << "pushButton disconnect clicked";
    emit disconnectSignal();
}

// Only the user's close (from the window system) is the hang-up button. The
// program closes the window at the end of a call; by then the call on the line
// may be the next one, which that close must not end.
void Dialog::closeEvent(QCloseEvent *event)
{
    if (event->spontaneous())
        QDialog::closeEvent(event);
}

// Esc and the window manager's close are the hang-up button: a call is never
// left running behind a hidden window.
void Dialog::reject()
{
    if (mainWindow && mainWindow->callInProgress())
        on_pushButton_31_clicked();
    QDialog::reject();
}
