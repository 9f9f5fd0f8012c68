#include "callwindow.h"

#include "mainwindow.h"

#include <QCloseEvent>
#include <QDebug>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

CallWindow::CallWindow(QWidget *parent)
    : QDialog(parent), mainWindow(qobject_cast<MainWindow *>(parent))
{
}

void CallWindow::setParts(QLabel *number, QLabel *time, QLabel *cause, QPushButton *hangUp)
{
    numberLabel = number;
    timeLabel = time;
    causeLabel = cause;
    hangUpButton = hangUp;
    if (mainWindow)
        connect(this, &CallWindow::disconnectSignal, mainWindow, &MainWindow::disconnectSlot);
}

void CallWindow::setNum(QString num) { numberLabel->setText(num); }
void CallWindow::setTime(QString time) { timeLabel->setText(time); }
void CallWindow::setCause(QString cause) { causeLabel->setText(cause); }

void CallWindow::moveToCenter()
{
    QScreen *s = screen();
    if (!s)
        s = QGuiApplication::primaryScreen();
    if (!s)
        return;
    const QRect r = s->availableGeometry();
    move((r.left() + r.right()) / 2 - width() / 2 + 6, (r.top() + r.bottom()) / 2 - height() / 2);
}

void CallWindow::setIcons()
{
    setWindowIcon(QIcon(":/images/telephone.png"));
    hangUpButton->setIcon(QIcon(":/images/Disconnect.svg"));
    hangUpButton->setIconSize(QSize(60, 60));
}

void CallWindow::hangUp()
{
    qDebug() << "pushButton disconnect clicked";
    emit disconnectSignal();
}

// Only the user's close (from the window system) is the hang-up button. The
// program closes the window at the end of a call; by then the call on the line
// may be the next one, which that close must not end.
void CallWindow::closeEvent(QCloseEvent *event)
{
    if (event->spontaneous())
        QDialog::closeEvent(event);
}

// Esc and the window manager's close are the hang-up button: a call is never
// left running behind a hidden window.
void CallWindow::reject()
{
    if (mainWindow && mainWindow->callInProgress())
        hangUp();
    QDialog::reject();
}
