#ifndef SETTINGS_H
#define SETTINGS_H

// Settings dialog: edits the account settings in place, lists the
// machine's IPv4 addresses for the media address and runs the STUN test.

#include <QDialog>

class MainWindow;
class QHostAddress;
class QShowEvent;

QT_BEGIN_NAMESPACE
namespace Ui { class Settings; }
QT_END_NAMESPACE

class Settings : public QDialog
{
    Q_OBJECT

public:
    explicit Settings(QWidget *parent);
    ~Settings() override;

    void showEventAction();
    void setComboBoxMediaIp();
    void setStunParam();
    void showStunResults();
    void selectMediaIp();
    QString invalidNumber() const;
    // Required SRTP over a transport other than TLS, or empty: SDES puts the
    // media keys into the SDP, which UDP and TCP carry in clear.
    QString invalidEncryption() const;
    // Every IPv4 address but 127.0.0.1, once each, provided a usable interface exists.
    static QStringList mediaAddresses(bool interfaceUp, const QList<QHostAddress> &addresses);

    Ui::Settings *ui = nullptr;
    MainWindow *mainWindow = nullptr;

signals:
    void saveSignal();

public slots:
    bool isGlobalIp(QString ip);

private slots:
    void on_pushButton_50_clicked();
    void on_pushButton_51_clicked();
    void on_comboBox_1_activated(const QString &text);
    void on_pushButton_52_clicked();
    void on_lineEdit_52_editingFinished();
    void on_checkBox_5_clicked();
    void on_pushButton_53_clicked();

protected:
    void showEvent(QShowEvent *event) override;
};

#endif // SETTINGS_H
