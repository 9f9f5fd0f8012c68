#include "settings.h"
#include "ui_settings.h"

#include "accountsettings.h"
#include "mainwindow.h"
#include "networkenvironment.h"
#include "settingsstore.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDebug>
#include <QFileDialog>
#include <QHostAddress>
#include <QHostInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkInterface>
#include <QRegularExpressionValidator>
#include <QShowEvent>

Settings::Settings(QWidget *parent)
    : QDialog(parent), ui(new Ui::Settings), mainWindow(qobject_cast<MainWindow *>(parent))
{
    ui->setupUi(this);
    // Number fields take digits only; the range is checked on saving.
    for (const SettingField &f : SettingsStore::fields()) {
        if (auto *edit = f.maximum > 0 ? findChild<QLineEdit *>(QLatin1String(f.widget)) : nullptr) {
            const QString digits = QStringLiteral("[0-9]{0,%1}").arg(QString::number(f.maximum).size());
            edit->setValidator(new QRegularExpressionValidator(QRegularExpression(digits), edit));
        }
    }
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
    const NetworkEnvironment *m = mainWindow->network;
    if (mainWindow->accountSettings.useSTUN) {
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
    for (const SettingField &f : SettingsStore::fields()) {
        QWidget *field = f.widget ? findChild<QWidget *>(QLatin1String(f.widget)) : nullptr;
        const QVariant value = f.value(m->accountSettings);
        if (auto *edit = qobject_cast<QLineEdit *>(field))
            edit->setText(value.toString());
        else if (auto *check = qobject_cast<QCheckBox *>(field))
            check->setChecked(value.toBool());
        else if (auto *box = qobject_cast<QComboBox *>(field))
            box->setCurrentIndex(qMax(0, box->findText(value.toString(), Qt::MatchFixedString))); // any case: "udp" too
    }
    ui->lineEdit_57->setEchoMode(QLineEdit::Password);
    ui->checkBox_5->setText(m->logFilePath);

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
    AccountSettings *m = &mainWindow->accountSettings;
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
    const QString &sipServerIp = m->accountSettings.sipServerIp;
    const bool serverGlobal = isGlobalIp(sipServerIp);
    for (const QNetworkInterface &iface : QNetworkInterface::allInterfaces()) {
        const auto f = iface.flags();
        if (!iface.isValid() || !(f & QNetworkInterface::IsRunning) || (f & QNetworkInterface::IsLoopBack)
            || (f & QNetworkInterface::IsPointToPoint))
            continue;
        for (const QString &ip : mediaAddresses(true, all)) {
            qDebug() << "ip: " << ip;
            qDebug() << (serverGlobal ? "sipServerIp is Global Ip: " : "sipServerIp is Local Ip: ") << sipServerIp;
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
    mainWindow->network->checkGlobalIp();
    setComboBoxMediaIp();
    showStunResults();
    qDebug() << "server STUN = " << mainWindow->accountSettings.STUN;
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

// A number out of its range named by its caption, or empty when all are valid.
QString Settings::invalidNumber() const
{
    for (const SettingField &f : SettingsStore::fields()) {
        auto *edit = f.maximum > 0 ? findChild<QLineEdit *>(QLatin1String(f.widget)) : nullptr;
        if (!edit)
            continue;
        bool ok = false;
        const int n = edit->text().toInt(&ok);
        if (ok && edit->text().contains(QRegularExpression(QStringLiteral("^[0-9]+$"))) && n >= f.minimum
            && n <= f.maximum)
            continue;
        QString caption = QLatin1String(f.widget);
        for (QLabel *label : findChildren<QLabel *>()) {
            if (label->buddy() == edit)
                caption = label->text();
        }
        edit->setFocus();
        return QStringLiteral("«%1»: введите число от %2 до %3.").arg(caption).arg(f.minimum).arg(f.maximum);
    }
    return QString();
}

QString Settings::invalidEncryption() const
{
    if (ui->comboBox_62->currentText() != QLatin1String("SRTP") || ui->comboBox_63->currentText() == QLatin1String("TLS"))
        return QString();
    return QStringLiteral("«%1»: SRTP требует транспорт TLS — по %2 ключи SDES передаются открытым текстом.")
        .arg(ui->caption_112->text(), ui->comboBox_63->currentText());
}

void Settings::on_pushButton_51_clicked()
{
    qDebug() << "pushButton save clicked";
    MainWindow *m = mainWindow;
    if (m) {
        // A port or a timer of 0 would silently break the account: nothing is
        // stored until every number is in its range.
        QString invalid = invalidNumber();
        if (invalid.isEmpty())
            invalid = invalidEncryption();
        if (!invalid.isEmpty()) {
            qDebug() << "!!!! settings not saved:" << invalid;
            QMessageBox::warning(this, windowTitle(), invalid);
            return;
        }
        for (const SettingField &f : SettingsStore::fields()) {
            QWidget *field = f.widget ? findChild<QWidget *>(QLatin1String(f.widget)) : nullptr;
            if (auto *edit = qobject_cast<QLineEdit *>(field))
                f.setValue(m->accountSettings, edit->text());
            else if (auto *check = qobject_cast<QCheckBox *>(field))
                f.setValue(m->accountSettings, check->isChecked());
            else if (auto *box = qobject_cast<QComboBox *>(field))
                f.setValue(m->accountSettings, box->currentText());
        }
    }
    emit saveSignal();
    close();
}

void Settings::on_comboBox_1_activated(const QString &text)
{
    if (!mainWindow)
        return;
    mainWindow->accountSettings.mediaIp = text;
    ui->comboBox_1->setCurrentText(text);
    qDebug() << "mediaIp = " << text;
}

void Settings::on_pushButton_52_clicked()
{
    const QString url = ui->lineEdit_67->text();
    if (url.isEmpty() || !mainWindow)
        return;
    NetworkEnvironment *m = mainWindow->network;
    mainWindow->accountSettings.STUN = url;
    if (mainWindow->accountSettings.useSTUN) {
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
    mainWindow->accountSettings.sipServerIp = ui->lineEdit_52->text();
    qDebug() << "!!!! editingChanged sipServerIp: " << mainWindow->accountSettings.sipServerIp;
    setStunParam();
}

void Settings::on_pushButton_53_clicked()
{
    const QString file = QFileDialog::getOpenFileName(this, QStringLiteral("CA файл (TLS)"), ui->lineEdit_69->text(),
                                                      QStringLiteral("PEM (*.pem *.crt);;* (*)"));
    if (!file.isEmpty())
        ui->lineEdit_69->setText(file);
}

void Settings::on_checkBox_5_clicked()
{
    if (mainWindow)
        mainWindow->accountSettings.useLog = ui->checkBox_5->isChecked();
}
