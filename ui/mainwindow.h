#ifndef MAINWINDOW_H
#define MAINWINDOW_H

// The main window: display, dial pad, call control, tones, tray. Reads the
// account settings and drives the user agent and the audio it is given;
// keeps the current-call record and writes it to the history.

#include "sipdialog.h"
#include "sip.h"

#include <QMainWindow>
#include <QSqlDatabase>
#include <QString>
#include <QSystemTrayIcon>

class QAction;
class QEvent;
class QKeyEvent;
class QLabel;
class QMediaPlayer;
class QMenu;
class QShowEvent;
class QTimer;

struct AccountSettings;
class Audio;
class Dialog;
class DialogOut;
class History;
class NetworkEnvironment;
class Settings;

QT_BEGIN_NAMESPACE
namespace Ui { class MainWindow; }
QT_END_NAMESPACE

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    MainWindow(AccountSettings &accountSettings, NetworkEnvironment *network, Sip *sip, Audio *audio,
               QWidget *parent = nullptr);
    ~MainWindow() override;

    // --- show sequence ---
    // Style sheet, recent numbers, display, title and icons after a settings load.
    void showEventAction();
    void moveToCenter();

    // --- history ---
    void setHistoryDB();
    void getHistoryDB();
    void setComboBoxHistoryDB();
    void historyParamDbg();

    // --- call control, tones, display ---
    void busyStartSendSignal(QString cause);
    // What a call window shows when the other side or the network ended the call.
    static QString callEndText(CallEnd cause, const QString &reason);
    // What the display shows while a connection to the server fails.
    static QString transportFailureText(SipTransport::Failure failure);
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
    CallState sipCallState() const;
    bool callRinging() const;    // an incoming call waits for an answer
    bool callInProgress() const; // a call being placed, ringing in, or up
    bool lineFree() const;       // no call and no busy tone: a new call may start

    // --- what the window reads and drives ---
    AccountSettings &accountSettings;
    NetworkEnvironment *network = nullptr;
    Sip *sip = nullptr;
    Audio *audio = nullptr;
    QSqlDatabase db;
    QString logFilePath;

    // --- owned objects ---
    Ui::MainWindow *ui = nullptr;
    Dialog *dialog = nullptr;
    DialogOut *dialogOut = nullptr;
    Settings *settings = nullptr;
    History *history = nullptr;
    QTimer *registerTimer = nullptr;
    QTimer *busyTimer = nullptr;
    QTimer *talkTimer = nullptr;
    QMediaPlayer *player = nullptr;
    QSystemTrayIcon *trayIcon = nullptr;
    QMenu *trayIconMenu = nullptr;
    QAction *minimizeAction = nullptr;
    QAction *restoreAction = nullptr;
    QAction *quitAction = nullptr;

    bool bTrayActionExecute = false;

    // --- current-call record ---
    QString called;
    QString lastNumber;
    QString currtime;
    QString time;
    QString info;
    int talkSeconds = 0;
    // Signalling and media of the current call were both encrypted: the
    // history row says so. The lock shows while they are.
    bool callEncrypted = false;
    QLabel *lock = nullptr;

    // --- display and toggles ---
    QString displayLine1;
    QString displayLine2;
    QString displayLine3;
    // The last connection failure, shown until the phone registers.
    QString transportStatus;
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
    // The user agent's reports.
    void registrationChangedSlot(bool registered, int status);
    void incomingCallSlot(const QString &number);
    void callEndedSlot(CallEnd cause, int status, const QString &reason);
    // The call's media went over to SRTP (on) or back to clear RTP: the lock
    // shows while the media is SRTP and the signalling runs over TLS.
    void mediaEncryptionSlot(bool srtp);
    // The far end put the call on hold or resumed it: the display says so.
    void remoteHoldSlot(bool held);
    // A redirect sent the call on: the number finally called is shown and recorded.
    void redirectedSlot(const QString &number);
    void transportErrorSlot(const QString &reason, SipTransport::Failure failure);
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
};

#endif // MAINWINDOW_H
