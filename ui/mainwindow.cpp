// Call control, display, tones and tray behaviour of the main window.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QEvent>
#include <QKeyEvent>

void MainWindow::registeredAction() {}
void MainWindow::displayIdle() {}
void MainWindow::ringtonStart() {}
void MainWindow::ringtonStop() {}
void MainWindow::cscStart() {}
void MainWindow::cscStop() {}
void MainWindow::busyStart(QString) {}
void MainWindow::busyStop() {}
void MainWindow::changeEvent(QEvent *event) { QMainWindow::changeEvent(event); }
void MainWindow::keyPressEvent(QKeyEvent *event) { QMainWindow::keyPressEvent(event); }
void MainWindow::trayIconActivated(QSystemTrayIcon::ActivationReason) {}
void MainWindow::trayActionExecute() {}
void MainWindow::setTrayIconActions() {}
void MainWindow::showTrayIcon() {}
void MainWindow::timerRegisterExpiredSlot() {}
void MainWindow::audioStartSlot() {}
void MainWindow::audioStopSlot() {}
void MainWindow::dialogWinShowSlot() {}
void MainWindow::answerSlot() {}
void MainWindow::disconnectSlot() {}
void MainWindow::ringtonStartSlot() {}
void MainWindow::ringtonStopSlot() {}
void MainWindow::cscStartSlot() {}
void MainWindow::cscStopSlot() {}
void MainWindow::busyStartSlot(QString) {}
void MainWindow::busyStopSlot() {}
void MainWindow::busyTimerTimeoutSlot() {}
void MainWindow::registeredSlot() {}
void MainWindow::rx183SDPSlot() {}
void MainWindow::rx183Slot() {}
void MainWindow::dtmfStartSlot(QString) {}
void MainWindow::talkTimerSlot() {}
