#ifndef CALLWINDOW_H
#define CALLWINDOW_H

// What the incoming- and the outgoing-call window share: the number, talk
// time and cause lines, the place beside the main window's centre, the hang-up
// button, and Esc or the window manager's close as that button.

#include <QDialog>

class MainWindow;
class QCloseEvent;
class QLabel;
class QPushButton;
class QShowEvent;

class CallWindow : public QDialog
{
    Q_OBJECT

public:
    void setNum(QString num);
    void setTime(QString time);
    void setCause(QString cause);
    void moveToCenter();

    MainWindow *mainWindow = nullptr;

signals:
    void disconnectSignal();

protected:
    explicit CallWindow(QWidget *parent);
    // The form's number, time and cause labels and its hang-up button.
    void setParts(QLabel *number, QLabel *time, QLabel *cause, QPushButton *hangUp);
    // Icons of the window and its buttons, every time it shows.
    void setIcons();
    void hangUp();
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    QLabel *numberLabel = nullptr;
    QLabel *timeLabel = nullptr;
    QLabel *causeLabel = nullptr;
    QPushButton *hangUpButton = nullptr;
};

#endif // CALLWINDOW_H
