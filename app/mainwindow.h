#ifndef MAINWINDOW_H
#define MAINWINDOW_H

// The application core and the shared store: account settings, STUN results,
// SIP identifiers and the current-call record are plain members here, reached by
// every subsystem through `pW` or a pointer handed down the object graph.

#include "accountsettings.h"

#include <QMainWindow>
#include <QSqlDatabase>
#include <QString>
#include <QSystemTrayIcon>

class QAction;
class QEvent;
class QFile;
class QKeyEvent;
class QMediaPlayer;
class QMenu;
class QShowEvent;
class QTimer;

class Audio;
class Dialog;
class DialogOut;
class History;
class Settings;
class StunClient;

QT_BEGIN_NAMESPACE
namespace Ui { class MainWindow; }
QT_END_NAMESPACE

class MainWindow : public QMainWindow, public AccountSettings
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // --- start-up, log, show sequence ---
    QString getApplicationFilePath();
    void createLogFile();
    static void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg);
    void writeLogFile(QString text);
    void showEventAction();
    void getSettingsDB();
    void moveToCenter();

    // --- database ---
    bool createDb();
    bool createConnectionDB();
    void createDB();
    void getSettingsDB_();
    void updateSettingsDB();
    void setHistoryDB();
    void getHistoryDB();
    void setComboBoxHistoryDB();
    void settingsParamDbg();
    void historyParamDbg();

    // --- network environment ---
    void setIpfromHostName();
    bool isGlobalIp(QString ip);
    void checkGlobalIp();
    void bindStunClientSip(QString url);
    void bindStunClientMedia(QString url);
    QString getRTPPort();
    void clearStunResults(); // STUN off: no public addresses, no STUN ports

    // --- call control, tones, display ---
    void busyStartSendSignal(QString cause);
    void registeredAction();
    void displayIdle();
    void ringtonStart();
    void ringtonStop();
    void cscStart();
    void cscStop();
    void busyStart(QString cause);
    void busyStop();

    // --- display, call record, layout (main window UI) ---
    void displayUpdate(QString number, QString status);
    void displayUpdate();
    void displayUpdateRegistered();
    void displayUpdateUnregistered();
    void displayRedraw(bool allLines);
    void setRegisteredPixmap();
    void setUnregisteredPixmap();
    void setTimeParam();
    void incomingCallAction();
    void outgoingCallAction();
    void breakCallAction();
    void setVisibleButton(bool visible);
    void setVisibleGroupBox(bool visible);
    void setMainIcons(); // icons and logo, buttons shown, volume panel folded in (for showEventAction)
    bool sipRegistered() const;
    bool audioActive() const;
    int sipCallState() const;    // the user agent's CallState; CallIdle before it exists
    bool callRinging() const;    // an incoming call waits for an answer
    bool callInProgress() const; // a call being placed, ringing in, or up
    bool lineFree() const;       // no call and no busy tone: a new call may start

    // --- owned objects ---
    Ui::MainWindow *ui = nullptr;
    QSqlDatabase db;
    Audio *audio = nullptr;
    Dialog *dialog = nullptr;
    DialogOut *dialogOut = nullptr;
    Settings *settings = nullptr;
    History *history = nullptr;
    StunClient *stunClientSip = nullptr;
    StunClient *stunClientMedia = nullptr;
    QTimer *registerTimer = nullptr;
    QTimer *busyTimer = nullptr;
    QTimer *talkTimer = nullptr;
    QMediaPlayer *player = nullptr;
    QSystemTrayIcon *trayIcon = nullptr;
    QMenu *trayIconMenu = nullptr;
    QAction *minimizeAction = nullptr;
    QAction *restoreAction = nullptr;
    QAction *quitAction = nullptr;

    // --- core values ---
    QString applicationFilePath;
    QString logFilePath;
    bool bTrayActionExecute = false;

    // The settings block (one member per column of the settings table) is
    // the AccountSettings base.

    // --- SIP working values (read and written by the SIP builders) ---
    QString payloadA;
    QString payloadU;
    QString rtpmapA;
    QString rtpmapU;
    int maxForwards = 70;
    int cseq = 1;
    int regCseq = 1;
    QString regBranch;
    QString regCallId;
    QString regFromTag;
    QString regToTag;
    QString callBranch;
    QString callFromTag;
    QString callToTag;
    QString callCallId;
    bool earlyMedia = false;

    // --- network environment ---
    QString sipServerAddr;
    QString stunIpS;
    QString stunPortS;
    int stunLocalPortS = 0;
    QString stunIpM;
    QString stunPortM;
    int stunLocalPortM = 0;

    // --- remote media address, written from the peer's SDP ---
    QString mediaIp_;
    QString mediaPort_;

    // --- current-call record ---
    QString called;
    QString lastNumber;
    QString currtime;
    QString time;
    QString info;
    int talkSeconds = 0;

    // --- display and toggles ---
    QString displayLine1;
    QString displayLine2;
    QString displayLine3;
    bool micOn = true;
    bool speakerOn = true;
    bool buttonsShown = true;
    float micValue = 0.9f;
    int speakerValue = 90;

signals:
    void audioStartSignal();
    void audioStopSignal();
    void dialogWinShowSignal();
    void ringtonStartSignal();
    void ringtonStopSignal();
    void registeredSignal();
    void dtmfStartSignal(QString key);
    void cscStartSignal();
    void cscStopSignal();
    void busyStartSignal(QString cause);
    void busyStopSignal();
    void rx183SDPSignal();
    void rx183Signal();
    void clicked();

public slots:
    void changeEvent(QEvent *event) override;
    void trayIconActivated(QSystemTrayIcon::ActivationReason reason);
    void trayActionExecute();
    void setTrayIconActions();
    void showTrayIcon();
    void timerRegisterExpiredSlot();
    void audioStartSlot();
    void audioStopSlot();
    void dialogWinShowSlot();
    void answerSlot();
    void disconnectSlot();
    void ringtonStartSlot();
    void ringtonStopSlot();
    void cscStartSlot();
    void cscStopSlot();
    void busyStartSlot(QString cause);
    void busyStopSlot();
    void busyTimerTimeoutSlot();
    void registeredSlot();
    void rx183SDPSlot();
    void rx183Slot();
    void dtmfStartSlot(QString key);
    void talkTimerSlot();
    void showEventActionSlot();
    void updatedStunClientSipSlot(QString ip, int port, int localPort);
    void updatedStunClientMediaSlot(QString ip, int port, int localPort);
    // The form's auto-connected button, slider and combo-box slots follow here.
    void on_pushButton_clicked();
    void on_pushButton_1_clicked();
    void on_pushButton_2_clicked();
    void on_pushButton_3_clicked();
    void on_pushButton_10_clicked();
    void on_pushButton_11_clicked();
    void on_pushButton_12_clicked();
    void on_pushButton_13_clicked();
    void on_pushButton_14_clicked();
    void on_pushButton_15_clicked();
    void on_pushButton_16_clicked();
    void on_pushButton_17_clicked();
    void on_pushButton_18_clicked();
    void on_pushButton_19_clicked();
    void on_pushButton_20_clicked();
    void on_pushButton_21_clicked();
    void on_pushButton_22_clicked();
    void on_pushButton_23_clicked();
    void on_pushButton_24_clicked();
    void on_pushButton_26_clicked();
    void on_pushButton_27_clicked();
    void on_pushButton_28_clicked();
    void on_horizontalSlider_valueChanged(int value);
    void on_horizontalSlider_2_valueChanged(int value);
    void on_comboBox_activated(const QString &text);
    void on_comboBox_currentIndexChanged(int index);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    bool settingsShown = false; // the first show has loaded the settings
};

extern MainWindow *pW;
extern QFile *m_logFile;

#endif // MAINWINDOW_H
