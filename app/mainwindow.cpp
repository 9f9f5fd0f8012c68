#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QFile>

MainWindow *pW = nullptr;
QFile *m_logFile = nullptr;

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), ui(new Ui::MainWindow)
{
    Q_INIT_RESOURCE(tray);
    pW = this;
    ui->setupUi(this);
}

MainWindow::~MainWindow()
{
    delete ui;
}

QString MainWindow::getApplicationFilePath() { return QString(); }
void MainWindow::createLogFile() {}
void MainWindow::messageHandler(QtMsgType, const QMessageLogContext &, const QString &) {}
void MainWindow::writeLogFile(QString) {}
void MainWindow::showEventAction() {}
void MainWindow::getSettingsDB() {}
void MainWindow::moveToCenter() {}
bool MainWindow::createDb() { return false; }
bool MainWindow::createConnectionDB() { return false; }
void MainWindow::createDB() {}
void MainWindow::getSettingsDB_() {}
void MainWindow::updateSettingsDB() {}
void MainWindow::setHistoryDB() {}
void MainWindow::getHistoryDB() {}
void MainWindow::setComboBoxHistoryDB() {}
void MainWindow::settingsParamDbg() {}
void MainWindow::historyParamDbg() {}
void MainWindow::setIpfromHostName() {}
bool MainWindow::isGlobalIp(QString) { return false; }
void MainWindow::checkGlobalIp() {}
void MainWindow::bindStunClientSip(QString) {}
void MainWindow::bindStunClientMedia(QString) {}
QString MainWindow::getRTPPort() { return QString(); }
void MainWindow::busyStartSendSignal(QString cause) { emit busyStartSignal(cause); }
void MainWindow::showEvent(QShowEvent *event) { QMainWindow::showEvent(event); }
void MainWindow::showEventActionSlot() {}
void MainWindow::updatedStunClientSipSlot(QString, int, int) {}
void MainWindow::updatedStunClientMediaSlot(QString, int, int) {}
