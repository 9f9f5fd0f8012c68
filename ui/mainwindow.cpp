// Call control, display, tones and tray behaviour of the main window.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "accountsettings.h"
#include "audio.h"
#include "dialog.h"
#include "dialogout.h"
#include "history.h"
#include "historystore.h"
#include "settings.h"
#include "sip.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFontMetrics>
#include <QIcon>
#include <QKeyEvent>
#include <QMediaPlayer>
#include <QMenu>
#include <QSaveFile>
#include <QScreen>
#include <QShowEvent>
#include <QStandardPaths>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTime>
#include <QTimer>
#include <QUrl>

#include <climits>

namespace {
const QString kBlank = QStringLiteral("   ");
const QString kLineFree = QStringLiteral("Линия свободна");
const QString kHeldByPeer = QStringLiteral("Удержание");

// The number may come from a caller's From header: it is shown as text, never
// interpreted as markup.
QString numberLine(const QString &number)
{
    return QStringLiteral("<p><span style=\"font-size:28px\">%1</span></p>").arg(number.toHtmlEscaped());
}

QString textLine(const QString &text)
{
    return QStringLiteral("<p><span style=\"font-weight:400\">%1</span></p>")
        .arg(text.isEmpty() ? kBlank : text.toHtmlEscaped());
}

const Qt::WindowFlags kDialogFlags = Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint
                                     | Qt::WindowCloseButtonHint;
} // namespace

MainWindow::MainWindow(AccountSettings &accountSettings, NetworkEnvironment *network, Sip *sip, Audio *audio,
                       QWidget *parent)
    : QMainWindow(parent), accountSettings(accountSettings), network(network), sip(sip), audio(audio),
      ui(new Ui::MainWindow)
{
    bTrayActionExecute = false;

    displayLine1 = displayLine2 = displayLine3 = QStringLiteral("   ");

    micOn = speakerOn = buttonsShown = true;

    registerTimer = new QTimer();
    connect(registerTimer, &QTimer::timeout, this, &MainWindow::timerRegisterExpiredSlot);
    registerTimer->start(1000);

    connect(this, &MainWindow::registeredSignal, this, &MainWindow::registeredSlot);

    micValue = 0.9f;
    speakerValue = 90;

    player = new QMediaPlayer();
    player->setVolume(50);

    connect(this, &MainWindow::ringtonStartSignal, this, &MainWindow::ringtonStartSlot);
    connect(this, &MainWindow::ringtonStopSignal, this, &MainWindow::ringtonStopSlot);
    connect(this, &MainWindow::dtmfStartSignal, this, &MainWindow::dtmfStartSlot);
    connect(this, &MainWindow::audioStartSignal, this, &MainWindow::audioStartSlot);
    connect(this, &MainWindow::audioStopSignal, this, &MainWindow::audioStopSlot);
    connect(this, &MainWindow::dialogWinShowSignal, this, &MainWindow::dialogWinShowSlot);
    connect(this, &MainWindow::rx183SDPSignal, this, &MainWindow::rx183SDPSlot);
    connect(this, &MainWindow::rx183Signal, this, &MainWindow::rx183Slot);
    connect(this, &MainWindow::cscStartSignal, this, &MainWindow::cscStartSlot);
    connect(this, &MainWindow::cscStopSignal, this, &MainWindow::cscStopSlot);
    connect(this, &MainWindow::busyStartSignal, this, &MainWindow::busyStartSlot);
    connect(this, &MainWindow::busyStopSignal, this, &MainWindow::busyStopSlot);

    busyTimer = new QTimer();
    connect(busyTimer, &QTimer::timeout, this, &MainWindow::busyTimerTimeoutSlot);

    currtime = QDateTime::currentDateTime().toString("dd.MM.yyyy HH:mm:ss");
    time = QStringLiteral("00:00:00");
    talkSeconds = 0;
    info.clear();

    talkTimer = new QTimer();
    connect(talkTimer, &QTimer::timeout, this, &MainWindow::talkTimerSlot);
    talkTimer->start(1000);

    const QIcon icon(QStringLiteral(":/images/telephone.png"));
    const Qt::WindowFlags callFlags =
        Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint;
    dialog = new Dialog(this);
    dialogOut = new DialogOut(this);
    for (QWidget *window : {static_cast<QWidget *>(dialog), static_cast<QWidget *>(dialogOut)}) {
        window->setWindowIcon(icon);
        window->setWindowFlags(callFlags);
    }
    settings = new Settings(this);
    history = new History(this);
    for (QWidget *window : {static_cast<QWidget *>(settings), static_cast<QWidget *>(history)}) {
        window->setWindowIcon(icon);
        window->setWindowFlags(callFlags | Qt::WindowCloseButtonHint);
    }

    ui->setupUi(this);
    lock = new QLabel(ui->textBrowser);
    lock->setObjectName(QStringLiteral("lock"));
    lock->setGeometry(8, 8, 20, 20);
    lock->setPixmap(QIcon(QStringLiteral(":/images/Lock.svg")).pixmap(20, 20));
    lock->setToolTip(QStringLiteral("Разговор зашифрован: TLS и SRTP"));
    lock->hide();
    setTrayIconActions();
    showTrayIcon();
    moveToCenter();
}

MainWindow::~MainWindow()
{
    dialog->close();
    dialogOut->close();
    settings->close();
    history->close();
    ringtonStop();
    cscStop();
    // The timers and the player have no parent; they end with the window.
    delete registerTimer;
    delete busyTimer;
    delete talkTimer;
    delete player;
    registerTimer = busyTimer = talkTimer = nullptr;
    player = nullptr;
    delete ui;
    ui = nullptr;
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // The settings were loaded before the first show; a return from the tray
    // or an incoming call leaves the sockets, the display and the
    // registration alone.
    qDebug() << "!!! showEvent bTrayActionExecute =" << bTrayActionExecute;
}

void MainWindow::showEventActionSlot()
{
    bTrayActionExecute = false;
    showEventAction();
}

void MainWindow::showEventAction()
{
    setComboBoxHistoryDB();

    QFile style(QStringLiteral(":/qss/style.css"));
    if (style.open(QIODevice::ReadOnly)) {
        QByteArray bytes = style.readAll();
        const int nul = bytes.indexOf('\0');
        if (nul >= 0)
            bytes.truncate(nul);
        qApp->setStyleSheet(QString::fromLatin1(bytes));
    }

    displayIdle();
    setWindowTitle(QStringLiteral("Sorvanto - ") + accountSettings.user);
    setWindowIcon(QIcon(QStringLiteral(":/images/telephone.png")));

    setMainIcons();
}

void MainWindow::moveToCenter()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect r = screen->availableGeometry();
    move((r.left() + r.right()) / 2 - width() / 2, (r.top() + r.bottom()) / 2 - height() / 2);
}

// --- history ---

void MainWindow::setHistoryDB()
{
    qDebug() << "!!!!! setHistoryDB";
    QString error;
    if (HistoryStore(db).append(called, currtime, time, info, &error, callEncrypted)) {
        qDebug() << "!!!!! setHistoryDB OK";
        historyParamDbg();
        getHistoryDB();
        setComboBoxHistoryDB();
    } else {
        qDebug() << "!!!!! setHistoryDB FAIL" << error;
    }
}

void MainWindow::getHistoryDB()
{
    HistoryStore(db).dump();
}

void MainWindow::setComboBoxHistoryDB()
{
    QComboBox *box = ui->comboBox;
    box->clear();
    box->addItem(QStringLiteral("Недавние"));
    box->setItemData(0, int(Qt::AlignLeft), Qt::TextAlignmentRole);
    for (const QString &number : HistoryStore(db).recentNumbers()) {
        box->addItem(number + QStringLiteral("  "));
        box->setItemData(box->count() - 1, int(Qt::AlignRight), Qt::TextAlignmentRole);
    }
}

void MainWindow::historyParamDbg()
{
    qDebug() << "called" << called;
    qDebug() << "currtime" << currtime;
    qDebug() << "time" << time;
    qDebug() << "info" << info;
}

void MainWindow::busyStartSendSignal(QString cause) { emit busyStartSignal(cause); }


// The user agent's reports.

void MainWindow::registrationChangedSlot(bool registered, int)
{
    if (registered)
        emit registeredSignal();
}

void MainWindow::incomingCallSlot(const QString &number)
{
    called = number;
    emit dialogWinShowSignal();
}

// What a call window shows when the other side or the network ended the call.
QString MainWindow::callEndText(CallEnd cause, const QString &reason)
{
    switch (cause) {
    case CallEnd::Refused: return reason;
    case CallEnd::RemoteBye: return QStringLiteral("Bye");
    case CallEnd::RemoteCancel: return QStringLiteral("Cancel");
    case CallEnd::NoAnswer: return QStringLiteral("408 Нет ответа");
    case CallEnd::NotAcknowledged: return QStringLiteral("408 Нет подтверждения");
    case CallEnd::NoCommonCodec: return QStringLiteral("488 Нет общего кодека");
    case CallEnd::SessionExpired: return QStringLiteral("408 Сеанс не продлён");
    case CallEnd::NotEncrypted: return QStringLiteral("488 Собеседник без SRTP");
    }
    return reason;
}

void MainWindow::redirectedSlot(const QString &number)
{
    called = number;
    if (dialogOut)
        dialogOut->setNum(number);
}

void MainWindow::remoteHoldSlot(bool)
{
    if (callInProgress())
        displayUpdate();
}

void MainWindow::callEndedSlot(CallEnd cause, int, const QString &reason)
{
    busyStartSendSignal(callEndText(cause, reason));
}

void MainWindow::mediaEncryptionSlot(bool srtp)
{
    // SDES keys cross the signalling: SRTP alone is only as private as it.
    const bool tls = sip && sip->transport && sip->transport->kind() == SipTransport::Kind::Tls;
    const bool encrypted = srtp && tls;
    // The record keeps that the call was encrypted after its media stopped.
    callEncrypted = callEncrypted || encrypted;
    if (lock)
        lock->setVisible(encrypted);
}

QString MainWindow::transportFailureText(SipTransport::Failure failure)
{
    switch (failure) {
    case SipTransport::Failure::Connection: return QStringLiteral("Нет соединения с сервером");
    case SipTransport::Failure::Framing: return QStringLiteral("Сервер нарушил протокол");
    case SipTransport::Failure::CertificateName: return QStringLiteral("TLS: сертификат не для этого сервера");
    case SipTransport::Failure::CertificateExpired: return QStringLiteral("TLS: сертификат сервера просрочен");
    case SipTransport::Failure::CertificateAuthority: return QStringLiteral("TLS: сертификат неизвестного центра");
    case SipTransport::Failure::Certificate: return QStringLiteral("TLS: сертификат сервера отвергнут");
    case SipTransport::Failure::CaFile: return QStringLiteral("TLS: CA файл не прочитан");
    }
    return QString();
}

void MainWindow::transportErrorSlot(const QString &reason, SipTransport::Failure failure)
{
    transportStatus = transportFailureText(failure);
    qWarning().noquote() << "!!! transport failure:" << reason << "| shown:" << transportStatus;
    setUnregisteredPixmap();
}

bool MainWindow::sipRegistered() const
{
    return sip && sip->registered;
}

bool MainWindow::audioActive() const
{
    return audio && audio->audioActive;
}

CallState MainWindow::sipCallState() const
{
    return sip ? sip->callState() : CallState::Idle;
}

bool MainWindow::callRinging() const
{
    return sipCallState() == CallState::Offered;
}

bool MainWindow::callInProgress() const
{
    return sip && sip->callInProgress();
}

bool MainWindow::lineFree() const
{
    // A call the far end ended keeps the line through its busy tone.
    return !callInProgress() && !(busyTimer && busyTimer->isActive());
}

// --- display ---

void MainWindow::displayRedraw(bool allLines)
{
    if (!ui)
        return;
    QTextBrowser *d = ui->textBrowser;
    d->clear();
    d->append(kBlank);
    d->append(displayLine1);
    if (allLines) {
        d->append(displayLine2);
        d->append(displayLine3);
    }
    QTextCursor c(d->document());
    c.select(QTextCursor::Document);
    QTextBlockFormat f;
    f.setAlignment(Qt::AlignRight);
    c.mergeBlockFormat(f);
}

void MainWindow::displayUpdate(QString number, QString status)
{
    displayLine3 = numberLine(number);
    displayLine1 = textLine(sipRegistered() ? status : QString());
    displayLine2 = textLine(QString());
    displayRedraw(true);
}

void MainWindow::displayUpdate()
{
    displayLine3 = numberLine(called);
    displayLine1 = textLine(time);
    displayLine2 = textLine(sip && sip->dialog.heldByPeer ? kHeldByPeer : QString());
    displayRedraw(true);
    if (dialog)
        dialog->setTime(time);
    if (dialogOut)
        dialogOut->setTime(time);
}

void MainWindow::displayIdle()
{
    displayLine1 = textLine(sipRegistered() ? kLineFree : transportStatus);
    displayLine2 = kBlank;
    displayLine3 = kBlank;
    displayRedraw(false);
}

void MainWindow::displayUpdateRegistered()
{
    displayLine1 = textLine(kLineFree);
    displayRedraw(true);
}

void MainWindow::displayUpdateUnregistered()
{
    displayLine1 = transportStatus.isEmpty() ? kBlank : textLine(transportStatus);
    displayRedraw(true);
}

void MainWindow::setRegisteredPixmap()
{
    if (ui)
        ui->pushButton->setIcon(QIcon(":/images/Registered.svg"));
    displayUpdateRegistered();
}

void MainWindow::setUnregisteredPixmap()
{
    if (ui)
        ui->pushButton->setIcon(QIcon(":/images/Unregistered.svg"));
    displayUpdateUnregistered();
}

// Button icons and the logo; main buttons shown, volume panel folded in.
void MainWindow::setMainIcons()
{
    if (!ui)
        return;
    auto set = [](QPushButton *b, const char *res, int w, int h) {
        b->setIcon(QIcon(QString::fromLatin1(res)));
        b->setIconSize(QSize(w, h));
    };
    set(ui->pushButton_10, ":/images/1.svg", 90, 50);
    set(ui->pushButton_11, ":/images/ABC.svg", 60, 50);
    set(ui->pushButton_12, ":/images/DEF.svg", 60, 50);
    set(ui->pushButton_13, ":/images/GHI.svg", 60, 50);
    set(ui->pushButton_14, ":/images/JKL.svg", 60, 50);
    set(ui->pushButton_15, ":/images/MNO.svg", 60, 50);
    set(ui->pushButton_16, ":/images/PQRS.svg", 60, 50);
    set(ui->pushButton_17, ":/images/TUV.svg", 60, 50);
    set(ui->pushButton_18, ":/images/WXYZ.svg", 60, 50);
    set(ui->pushButton_27, ":/images/Answer.svg", 60, 50);
    set(ui->pushButton_22, ":/images/Redial.svg", 40, 40);
    set(ui->pushButton_24, ":/images/Clear.svg", 40, 40);
    set(ui->pushButton_26, ":/images/Timeout.svg", 20, 20);
    set(ui->pushButton_28, ":/images/Param.svg", 20, 20);
    set(ui->pushButton_1, micOn ? ":/images/Mic.svg" : ":/images/MicOff.svg", 20, 20);
    set(ui->pushButton_2, ":/images/down.svg", 20, 20);
    set(ui->pushButton_3, speakerOn ? ":/images/Speak.svg" : ":/images/SpeakOff.svg", 20, 20);
    set(ui->pushButton, ":/images/Unregistered.svg", 150, 25);
    ui->label->setPixmap(QIcon(":/images/Karsimo.svg").pixmap(ui->label->size()));
    ui->label->setAlignment(Qt::AlignCenter);
    buttonsShown = true;
    setVisibleButton(true);
    setVisibleGroupBox(false);
}

void MainWindow::setVisibleButton(bool visible)
{
    ui->pushButton_26->setVisible(visible);
    ui->pushButton_27->setVisible(visible);
    ui->pushButton_28->setVisible(visible);
    ui->label->setVisible(visible);
}

void MainWindow::setVisibleGroupBox(bool visible)
{
    for (QWidget *w : std::initializer_list<QWidget *>{ui->horizontalSlider, ui->horizontalSlider_2, ui->label_2,
                                                       ui->label_4, ui->label_5, ui->label_6, ui->label_7, ui->label_8})
        w->setVisible(visible);
}

// --- registration ---

void MainWindow::registeredAction()
{
    if (accountSettings.sipServerIp.isEmpty() || accountSettings.login.isEmpty() || accountSettings.password.isEmpty())
        return;
    setUnregisteredPixmap();
    if (sip)
        sip->sendSipMsg("register");
}

void MainWindow::timerRegisterExpiredSlot()
{
    // The stored timeout is user input: keep the interval inside the timer's range.
    const qint64 ms = sipRegistered() ? qint64(sip->refreshSeconds()) * 1000 : 5000;
    if (registerTimer)
        registerTimer->start(int(qBound<qint64>(0, ms, INT_MAX)));
    registeredAction();
}

void MainWindow::registeredSlot()
{
    transportStatus.clear();
    setRegisteredPixmap();
}

void MainWindow::on_pushButton_clicked()
{
    ui->pushButton->setIcon(QIcon(":/images/Unregistered.svg"));
    registeredAction();
}

// --- talk time and call record ---

void MainWindow::talkTimerSlot()
{
    if (audioActive()) {
        ++talkSeconds;
        time = QTime(0, 0).addSecs(talkSeconds).toString("hh:mm:ss");
        displayUpdate();
    }
    if (talkTimer)
        talkTimer->start(1000);
}

void MainWindow::setTimeParam()
{
    talkSeconds = 0;
    time = QStringLiteral("00:00:00");
    currtime = QDateTime::currentDateTime().toString("dd.MM.yyyy HH:mm:ss");
}

void MainWindow::incomingCallAction()
{
    info = QStringLiteral("In");
    setTimeParam();
}

void MainWindow::outgoingCallAction()
{
    info = QStringLiteral("Out");
    setTimeParam();
}

void MainWindow::breakCallAction()
{
    info = QStringLiteral("Break");
    setTimeParam();
}

// --- dial pad and keyboard ---

namespace {
// From the INVITE to the end of the busy tone the number is the call's: keys
// then go to the far end as DTMF (once the voice runs) and leave `called` alone.
void padDigit(MainWindow *w, const QString &digit)
{
    if (!w->lineFree()) {
        w->audio->sendDtmf(digit.at(0));
        emit w->dtmfStartSignal(digit);
        return;
    }
    w->called += digit;
    w->displayUpdate(w->called, kLineFree);
    qDebug() << "number = " << w->called;
    emit w->dtmfStartSignal(digit);
}
} // namespace

void MainWindow::on_pushButton_10_clicked() { padDigit(this, "1"); }
void MainWindow::on_pushButton_11_clicked() { padDigit(this, "2"); }
void MainWindow::on_pushButton_12_clicked() { padDigit(this, "3"); }
void MainWindow::on_pushButton_13_clicked() { padDigit(this, "4"); }
void MainWindow::on_pushButton_14_clicked() { padDigit(this, "5"); }
void MainWindow::on_pushButton_15_clicked() { padDigit(this, "6"); }
void MainWindow::on_pushButton_16_clicked() { padDigit(this, "7"); }
void MainWindow::on_pushButton_17_clicked() { padDigit(this, "8"); }
void MainWindow::on_pushButton_18_clicked() { padDigit(this, "9"); }
void MainWindow::on_pushButton_20_clicked() { padDigit(this, "0"); }
void MainWindow::on_pushButton_19_clicked()
{
    if (!lineFree())
        audio->sendDtmf('*');
    emit dtmfStartSignal("*");
}

void MainWindow::on_pushButton_21_clicked()
{
    if (!lineFree())
        audio->sendDtmf('#');
    emit dtmfStartSignal("#");
}

void MainWindow::on_pushButton_23_clicked()
{
    if (!lineFree())
        return; // the number is the call's until it ends
    called += "+";
    displayUpdate(called, kLineFree);
}

void MainWindow::on_pushButton_24_clicked()
{
    if (!lineFree())
        return;
    called.clear();
    displayUpdate(called, kLineFree);
}

void MainWindow::keyPressEvent(QKeyEvent *event)
{
    const int k = event->key();
    if (!lineFree()) {
        const QString key = event->text();
        if (key.size() == 1 && QStringLiteral("0123456789*#").contains(key)) {
            audio->sendDtmf(key.at(0));
            emit dtmfStartSignal(key);
        }
        return;
    }
    if (k >= Qt::Key_0 && k <= Qt::Key_9) {
        called += QChar('0' + (k - Qt::Key_0));
    } else if (k == Qt::Key_Backspace) {
        called.chop(1);
    } else if (k == Qt::Key_Delete) {
        called.clear();
    } else if (k == Qt::Key_Plus || k == Qt::Key_Minus) {
        // A leading sign is replaced, never doubled.
        if (called.startsWith('-') || called.startsWith('+'))
            called.remove(0, 1);
        called.prepend(k == Qt::Key_Plus ? '+' : '-');
    }
    if (called.size() > 29)
        called.truncate(30);
    displayUpdate(called, kLineFree);
    qDebug() << "number = " << called;
}

// --- recent numbers ---

void MainWindow::on_comboBox_activated(const QString &text)
{
    called = text.trimmed();
    displayUpdate(called, kLineFree);

    // Push the chosen number to the right edge in place of the caption.
    QComboBox *box = ui->comboBox;
    const int offset = box->width() - QFontMetrics(box->font()).horizontalAdvance(called + "  ");
    box->setStyleSheet(QString("QComboBox { padding-left: %1px;text-align: right;}").arg(qMax(0, offset)));
    if (box->count() > 0) {
        box->setItemText(0, called + "  ");
        box->setItemData(0, int(Qt::AlignRight), Qt::TextAlignmentRole);
    }
}

void MainWindow::on_comboBox_currentIndexChanged(int) {}

// --- calls ---

namespace {
// The outgoing-call window, then the INVITE to `called`.
void placeCall(MainWindow *w)
{
    w->lastNumber = w->called;
    if (w->dialogOut) {
        w->dialogOut->setNum(w->called);
        w->dialogOut->setTime(QString());
        w->dialogOut->setCause(QString());
        w->dialogOut->show();
        // a window shown again keeps its old place in the stack: bring it to the front
        w->dialogOut->raise();
        w->dialogOut->activateWindow();
    }
    if (w->sip) {
        w->sip->dialog.called = w->called;
        w->sip->sendSipMsg("invite");
    }
}
} // namespace

// A second INVITE would take over the live call's identifiers: while a call
// rings in, the call button answers it; during any other call it does nothing.
void MainWindow::on_pushButton_27_clicked()
{
    qDebug() << "answer number = " << called;
    if (callRinging() && dialog) {
        dialog->answer();
        return;
    }
    if (!lineFree() || called.isEmpty())
        return;
    placeCall(this);
}

void MainWindow::on_pushButton_22_clicked()
{
    if (!lineFree())
        return;
    called = lastNumber;
    qDebug() << "redial number = " << called;
    if (called.isEmpty())
        return;
    displayUpdate(called, kLineFree);
    placeCall(this);
}

void MainWindow::dialogWinShowSlot()
{
    // The last call's busy tone ends here: its timer would end the new call.
    if (busyTimer && busyTimer->isActive())
        busyStop();
    // Back from the tray or a minimise, in front, with the incoming-call window
    // above it: X maps a window again where it was in the stack, below the
    // main window just raised.
    showNormal();
    raise();
    activateWindow();
    if (dialog) {
        dialog->setNum(called);
        dialog->setTime(QString());
        dialog->setCause(QString());
        dialog->show();
        dialog->raise();
        dialog->activateWindow();
    }
    displayUpdate(called, kLineFree);
    emit ringtonStartSignal();
}

void MainWindow::answerSlot()
{
    qDebug() << "!!! answerSlot";
    // After a cancel or a BYE the 200 OK would start a call nobody is on.
    if (!callRinging())
        return;
    if (sip)
        sip->sendSipMsg("answer");
}

void MainWindow::disconnectSlot()
{
    qDebug() << "!!! disconnectSlot";
    if (sip)
        sip->sendSipMsg("disconnect");
}

void MainWindow::rx183Slot()
{
    // With SDP the network's own announcement or ringback follows as RTP.
    if (sip && sip->dialog.earlyMedia)
        rx183SDPSlot();
    else
        cscStart();
}

void MainWindow::rx183SDPSlot()
{
    if (audio)
        audio->audioStartSpeaker();
    emit ringtonStopSignal();
    emit cscStopSignal();
    emit busyStopSignal();
}

void MainWindow::audioStartSlot()
{
    qDebug() << "!!! audioStartSlot";
    if (audio)
        audio->audioStart();
    emit ringtonStopSignal();
    emit cscStopSignal();
    emit busyStopSignal();
}

void MainWindow::audioStopSlot()
{
    qDebug() << "!!! audioStopSlot";
    if (audio)
        audio->audioStop();
    setHistoryDB();
    mediaEncryptionSlot(false);
    callEncrypted = false;
    if (dialog)
        dialog->close();
    if (dialogOut)
        dialogOut->close();
    called.clear();
    emit ringtonStopSignal();
    emit cscStopSignal();
    emit busyStopSignal();
    displayIdle();
}

void MainWindow::busyStartSlot(QString cause) { busyStart(cause); }
void MainWindow::busyStopSlot() { busyStop(); }
void MainWindow::busyTimerTimeoutSlot() { audioStopSlot(); }

// --- tones: one player, so any start replaces and any stop silences ---

namespace {
// The player gets a copy of the compiled-in sound in the cache directory.
// GStreamer reads a real file with its own file source, while a resource is
// streamed to it by Qt, and that stream now and then failed to start
// ("Internal data stream error"): a call ended without its busy tone. The
// resource itself stays the fallback when no copy can be written.
QUrl soundUrl(const QString &name)
{
    const QString resource = QStringLiteral(":/sounds/") + name;
    QFile source(resource);
    if (source.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = source.readAll();
        const QString dir = QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/sounds");
        const QString path = dir + QLatin1Char('/') + name;
        QFile copy(path);
        if (copy.open(QIODevice::ReadOnly) && copy.readAll() == bytes)
            return QUrl::fromLocalFile(path);
        QSaveFile out(path);
        if (QDir().mkpath(dir) && out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() && out.commit())
            return QUrl::fromLocalFile(path);
    }
    return QUrl(QStringLiteral("qrc") + resource);
}

void play(QMediaPlayer *player, const QString &name)
{
    if (!player)
        return;
    player->setMedia(soundUrl(name));
    player->play();
}
} // namespace

void MainWindow::ringtonStart()
{
    qDebug() << "!!! ringtonStart";
    play(player, QStringLiteral("zvonok.mp3"));
}

void MainWindow::ringtonStop()
{
    qDebug() << "!!! ringtonStop";
    if (player)
        player->stop();
}

void MainWindow::cscStart()
{
    qDebug() << "!!! cscStart";
    play(player, QStringLiteral("csc.mp3"));
}

void MainWindow::cscStop()
{
    qDebug() << "!!! cscStop";
    if (player)
        player->stop();
}

void MainWindow::busyStart(QString cause)
{
    qDebug() << "!!! busyStart";
    if (audio)
        audio->audioStop();
    play(player, QStringLiteral("busy.mp3"));
    if (busyTimer)
        busyTimer->start(3000);
    if (dialog)
        dialog->setCause(cause);
    if (dialogOut)
        dialogOut->setCause(cause);
}

void MainWindow::busyStop()
{
    qDebug() << "!!! busyStop";
    if (player)
        player->stop();
    if (busyTimer)
        busyTimer->stop();
}

void MainWindow::ringtonStartSlot() { ringtonStart(); }
void MainWindow::ringtonStopSlot() { ringtonStop(); }
void MainWindow::cscStartSlot() { cscStart(); }
void MainWindow::cscStopSlot() { cscStop(); }

void MainWindow::dtmfStartSlot(QString key)
{
    static const QString digits = QStringLiteral("0123456789");
    QString name;
    if (key.size() == 1 && digits.contains(key))
        name = "dtmf_" + key + ".wav";
    else if (key == "#")
        name = "dtmf_rh.wav";
    else if (key == "*")
        name = "dtmf_zv.wav";
    if (!name.isEmpty())
        play(player, name);
}

// --- windows ---

void MainWindow::on_pushButton_26_clicked()
{
    qDebug() << "pushButton timeout clicked";
    if (!history)
        return;
    history->setWindowIcon(QIcon(":/images/telephone.png"));
    history->setWindowFlags(kDialogFlags);
    history->show();
}

void MainWindow::on_pushButton_28_clicked()
{
    qDebug() << "pushButton param clicked";
    if (!settings)
        return;
    settings->setWindowIcon(QIcon(":/images/telephone.png"));
    settings->setWindowFlags(kDialogFlags);
    settings->show();
}

// --- volume panel, levels and mute ---

void MainWindow::on_pushButton_2_clicked()
{
    buttonsShown = !buttonsShown;
    ui->pushButton_2->setIcon(QIcon(buttonsShown ? ":/images/down.svg" : ":/images/up.svg"));
    ui->pushButton_2->setIconSize(QSize(20, 20));
    setVisibleButton(buttonsShown);
    setVisibleGroupBox(!buttonsShown);
}

void MainWindow::on_horizontalSlider_valueChanged(int value)
{
    micValue = value / 100.0f;
    if (audio)
        audio->setMicValue(micValue);
    ui->label_7->setText(QString::number(value) + " %");
}

void MainWindow::on_horizontalSlider_2_valueChanged(int value)
{
    speakerValue = value;
    if (audio)
        audio->setSpeakerValue(value / 100.0f);
    ui->label_8->setText(QString::number(value) + " %");
}

void MainWindow::on_pushButton_1_clicked()
{
    micOn = !micOn;
    const QIcon icon(micOn ? ":/images/Mic.svg" : ":/images/MicOff.svg");
    ui->pushButton_1->setIcon(icon);
    ui->pushButton_1->setIconSize(QSize(20, 20));
    ui->label_2->setPixmap(icon.pixmap(ui->label_2->size()));
    ui->label_2->setAlignment(Qt::AlignCenter);
    ui->label_2->setEnabled(micOn);
    ui->label_5->setText(micOn ? "Включен" : "Выключен");
    ui->label_5->setEnabled(micOn);
    ui->label_7->setEnabled(micOn);
    ui->horizontalSlider->setEnabled(micOn);
    if (audio)
        audio->setMicValue(micOn ? micValue : 0.0f);
}

void MainWindow::on_pushButton_3_clicked()
{
    speakerOn = !speakerOn;
    const QIcon icon(speakerOn ? ":/images/Speak.svg" : ":/images/SpeakOff.svg");
    ui->pushButton_3->setIcon(icon);
    ui->pushButton_3->setIconSize(QSize(20, 20));
    ui->label_4->setPixmap(icon.pixmap(ui->label_4->size()));
    ui->label_4->setAlignment(Qt::AlignCenter);
    ui->label_4->setEnabled(speakerOn);
    ui->label_6->setText(speakerOn ? "Включен" : "Выключен");
    ui->label_6->setEnabled(speakerOn);
    ui->label_8->setEnabled(speakerOn);
    ui->horizontalSlider_2->setEnabled(speakerOn);
    if (audio)
        audio->setSpeakerValue(speakerOn ? speakerValue / 100.0f : 0.0f);
}

// --- tray ---

void MainWindow::setTrayIconActions()
{
    minimizeAction = new QAction("Свернуть", this);
    restoreAction = new QAction("Восстановить", this);
    quitAction = new QAction("Выход", this);
    connect(minimizeAction, &QAction::triggered, this, &QWidget::hide);
    connect(restoreAction, &QAction::triggered, this, &QWidget::showNormal);
    connect(quitAction, &QAction::triggered, qApp, &QCoreApplication::quit);
    trayIconMenu = new QMenu(this);
    trayIconMenu->addAction(minimizeAction);
    trayIconMenu->addAction(restoreAction);
    trayIconMenu->addAction(quitAction);
}

void MainWindow::showTrayIcon()
{
    trayIcon = new QSystemTrayIcon(this);
    trayIcon->setIcon(QIcon(":/images/telephone.png"));
    trayIcon->setContextMenu(trayIconMenu);
    connect(trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::trayIconActivated);
    trayIcon->show();
}

void MainWindow::trayIconActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
        trayActionExecute();
}

void MainWindow::trayActionExecute()
{
    showNormal();
}

void MainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized()) {
        bTrayActionExecute = true;
        hide();
    }
}
