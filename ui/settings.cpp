#include "settings.h"
#include "ui_settings.h"

#include "mainwindow.h"

#include <QDebug>
#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QShowEvent>

Settings::Settings(QWidget *parent)
    : QDialog(parent), ui(new Ui::Settings), mainWindow(qobject_cast<MainWindow *>(parent))
{
    ui->setupUi(this);
    if (mainWindow)
        connect(this, &Settings::saveSignal, mainWindow, &MainWindow::showEventActionSlot);
}

Settings::~Settings()
{
    delete ui;
}

void Settings::showEvent(QShowEvent *event)
{
    qDebug() << "!!!!!! Settings showEvent";
    QDialog::showEvent(event);
    showEventAction();
}

void Settings::showStunResults()
{
    MainWindow *m = mainWindow;
    if (m->useSTUN) {
        ui->checkBox_4->setChecked(true);
        ui->lineEdit_66->setText(m->stunIpS + ":" + m->stunPortS);
        ui->lineEdit_68->setText(m->stunIpM + ":" + m->stunPortM);
    } else {
        ui->checkBox_4->setChecked(false);
        ui->lineEdit_66->clear();
        ui->lineEdit_68->clear();
    }
}

void Settings::showEventAction()
{
    MainWindow *m = mainWindow;
    if (!m)
        return;
    ui->lineEdit_51->setText(m->account);
    ui->lineEdit_52->setText(m->sipServerIp);
    ui->lineEdit_53->setText(m->sipProxyIp);
    ui->lineEdit_64->setText(m->sipServerPort);
    ui->lineEdit_54->setText(m->user);
    ui->lineEdit_55->setText(m->domain);
    ui->lineEdit_56->setText(m->login);
    ui->lineEdit_57->setText(m->password);
    ui->lineEdit_57->setEchoMode(QLineEdit::Password);
    ui->lineEdit_58->setText(m->name);
    ui->lineEdit_59->setText(m->voicemail);
    ui->lineEdit_60->setText(m->prefix);
    ui->lineEdit_61->setText(m->plan);
    // Not editable boxes: the edit text is ignored and the single item stays shown.
    ui->comboBox_62->setEditText(m->encryptMedia);
    ui->comboBox_63->setEditText(m->transport);
    ui->comboBox_64->setEditText(m->publicAddr);
    ui->lineEdit_62->setText(QString::number(m->registrTimeout));
    ui->lineEdit_63->setText(QString::number(m->keepAlive));
    ui->checkBox->setChecked(m->hideCallerId);

    ui->checkBox_2->setChecked(m->codecPCMA);
    ui->checkBox_3->setChecked(m->codecPCMU);
    ui->lineEdit_65->setText(QString::number(m->mediaPort));
    ui->lineEdit_67->setText(m->STUN);
    ui->checkBox_5->setText(m->logFilePath);
    ui->checkBox_5->setChecked(m->useLog);

    showStunResults();
    setComboBoxMediaIp();
}

QStringList Settings::mediaAddresses(bool interfaceUp, const QList<QHostAddress> &addresses)
{
    QStringList list;
    if (!interfaceUp)
        return list;
    for (const QHostAddress &a : addresses) {
        if (a.protocol() != QAbstractSocket::IPv4Protocol || a == QHostAddress(QHostAddress::LocalHost))
            continue;
        const QString ip = a.toString();
        if (!list.contains(ip))
            list << ip;
    }
    return list;
}

void Settings::selectMediaIp()
{
    MainWindow *m = mainWindow;
    const int i = ui->comboBox_1->findText(m->mediaIp, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (i >= 0 && !m->mediaIp.isEmpty()) {
        ui->comboBox_1->setCurrentIndex(i);
        qDebug() << "(1)mainWin->mediaIp = " << m->mediaIp;
    } else {
        m->mediaIp = ui->comboBox_1->currentText();
        qDebug() << "(2)mainWin->mediaIp = " << m->mediaIp;
    }
    qDebug() << "setComboBoxMediaIp mediaIp: " << m->mediaIp;
}

void Settings::setComboBoxMediaIp()
{
    MainWindow *m = mainWindow;
    if (!m)
        return;
    ui->comboBox_1->clear();

    const QString host = QHostInfo::localHostName();
    qDebug() << "localHostName: " << host;
    for (const QHostAddress &a : QHostInfo::fromName(host).addresses())
        qDebug() << "IP Address: " << a.toString();

    const QList<QHostAddress> all = QNetworkInterface::allAddresses();
    const bool serverGlobal = isGlobalIp(m->sipServerIp);
    for (const QNetworkInterface &iface : QNetworkInterface::allInterfaces()) {
        const auto f = iface.flags();
        if (!iface.isValid() || !(f & QNetworkInterface::IsRunning) || (f & QNetworkInterface::IsLoopBack)
            || (f & QNetworkInterface::IsPointToPoint))
            continue;
        for (const QString &ip : mediaAddresses(true, all)) {
            qDebug() << "ip: " << ip;
            qDebug() << (serverGlobal ? "sipServerIp is Global Ip: " : "sipServerIp is Local Ip: ") << m->sipServerIp;
            qDebug() << (isGlobalIp(ip) ? "Global Ip: " : "Local Ip: ") << ip;
            if (ui->comboBox_1->findText(ip, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0)
                ui->comboBox_1->addItem(ip);
            qDebug() << "address: " << iface.humanReadableName() + "->" + ip;
        }
    }
    selectMediaIp();
}

void Settings::setStunParam()
{
    MainWindow *m = mainWindow;
    m->checkGlobalIp();
    setComboBoxMediaIp();
    showStunResults();
    qDebug() << "server STUN = " << m->STUN;
    qDebug() << "stun SIP = " << ui->lineEdit_66->text();
    qDebug() << "stun Media = " << ui->lineEdit_68->text();
}

bool Settings::isGlobalIp(QString ip)
{
    QHostAddress a;
    bool global = true;
    if (a.setAddress(ip) && a.protocol() == QAbstractSocket::IPv4Protocol) {
        const quint32 v = a.toIPv4Address();
        global = !(v == 0x7F000001u || v == 0u || (v >> 24) == 10 || (v >> 20) == 0xAC1 || (v >> 16) == 0xC0A8);
    }
    qDebug() << (global ? "(isGlobalIp)Global ip: " : "(isGlobalIp)Local ip: ") << ip;
    return global;
}

void Settings::on_pushButton_50_clicked()
{
    qDebug() << "pushButton cancel clicked";
    close();
}

void Settings::on_pushButton_51_clicked()
{
    qDebug() << "pushButton save clicked";
    MainWindow *m = mainWindow;
    if (m) {
        m->account = ui->lineEdit_51->text();
        m->sipServerIp = ui->lineEdit_52->text();
        m->sipProxyIp = ui->lineEdit_53->text();
        m->sipServerPort = ui->lineEdit_64->text();
        m->user = ui->lineEdit_54->text();
        m->domain = ui->lineEdit_55->text();
        m->login = ui->lineEdit_56->text();
        m->password = ui->lineEdit_57->text();
        m->name = ui->lineEdit_58->text();
        m->voicemail = ui->lineEdit_59->text();
        m->prefix = ui->lineEdit_60->text();
        m->plan = ui->lineEdit_61->text();
        m->encryptMedia = ui->comboBox_62->currentText();
        m->transport = ui->comboBox_63->currentText();
        m->publicAddr = ui->comboBox_64->currentText();
        // toInt gives 0 for text that is not a number.
        m->registrTimeout = ui->lineEdit_62->text().toInt();
        m->keepAlive = ui->lineEdit_63->text().toInt();
        m->hideCallerId = ui->checkBox->isChecked();
        m->codecPCMA = ui->checkBox_2->isChecked();
        m->codecPCMU = ui->checkBox_3->isChecked();
        m->mediaPort = ui->lineEdit_65->text().toInt();
        m->mediaIp = ui->comboBox_1->currentText();
        m->useLog = ui->checkBox_5->isChecked();
        m->STUN = ui->lineEdit_67->text();
        m->updateSettingsDB();
    }
    emit saveSignal();
    close();
}

void Settings::on_comboBox_1_activated(const QString &text)
{
    if (!mainWindow)
        return;
    mainWindow->mediaIp = text;
    ui->comboBox_1->setCurrentText(text);
    qDebug() << "mediaIp = " << text;
}

void Settings::on_pushButton_52_clicked()
{
    MainWindow *m = mainWindow;
    const QString url = ui->lineEdit_67->text();
    if (url.isEmpty() || !m)
        return;
    m->STUN = url;
    if (m->useSTUN) {
        qDebug() << "server STUN = " << url;
        m->bindStunClientSip(url);
        ui->lineEdit_66->setText(m->stunIpS + ":" + m->stunPortS);
        qDebug() << "stun SIP = " << ui->lineEdit_66->text();
        m->bindStunClientMedia(url);
        ui->lineEdit_68->setText(m->stunIpM + ":" + m->stunPortM);
        qDebug() << "stun Media = " << ui->lineEdit_68->text();
    } else {
        ui->lineEdit_66->clear();
        ui->lineEdit_68->clear();
    }
}

void Settings::on_lineEdit_52_editingFinished()
{
    if (!mainWindow)
        return;
    mainWindow->sipServerIp = ui->lineEdit_52->text();
    qDebug() << "!!!! editingChanged sipServerIp: " << mainWindow->sipServerIp;
    setStunParam();
}

void Settings::on_checkBox_5_clicked()
{
    if (mainWindow)
        mainWindow->useLog = ui->checkBox_5->isChecked();
}
