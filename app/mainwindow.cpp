// The application core: start-up, the object graph and its wiring, the log
// file, the settings and history database, and the network environment.
#include "mainwindow.h"
#include "ui_mainwindow.h"
#include "audio.h"
#include "dialog.h"
#include "dialogout.h"
#include "history.h"
#include "historystore.h"
#include "rtp.h"
#include "settings.h"
#include "settingsstore.h"
#include "sip.h"
#include "sipheader.h"
#include "stunclient.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QHostInfo>
#include <QIcon>
#include <QLoggingCategory>
#include <QMediaPlayer>
#include <QMessageBox>
#include <QMutex>
#include <QScreen>
#include <QShowEvent>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTextStream>
#include <QTimer>
#include <QUdpSocket>

MainWindow *pW = nullptr;
QFile *m_logFile = nullptr;

namespace {

// Target of the local-address probe: any well-known public resolver will do,
// since nothing is ever sent to it.
const char *const kProbeAddress = "9.9.9.9";

const qint64 kLogLimit = 10485760; // 10 MiB

const QFileDevice::Permissions kPrivate = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QString databasePath(const QString &dir)
{
    return QDir::toNativeSeparators(dir) + QDir::toNativeSeparators("/sorvanto.dat");
}

// A URL is looked up once; the client remembers the last one it used.
bool startLookup(StunClient *client, const QString &url)
{
    if (url.isEmpty() || !client || client->url == url)
        return false;
    client->setStunClient(url);
    client->binding();
    return true;
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), ui(new Ui::MainWindow)
{
    Q_INIT_RESOURCE(tray);
    bTrayActionExecute = false;

    applicationFilePath = getApplicationFilePath();
    qDebug() << "applicationFilePath" << applicationFilePath;

    displayLine1 = displayLine2 = displayLine3 = QStringLiteral("   ");

    useLog = true;
    pW = this;
    // The message layer asks before formatting a line the handler would drop.
    SipHeader::setLogSwitch([] { return pW ? pW->useLog : QLoggingCategory::defaultCategory()->isDebugEnabled(); });
    createLogFile();

    // A UDP connect sends nothing; it only picks the route, so the local
    // address is known at once even when the resolver's port is filtered.
    QUdpSocket probe;
    probe.connectToHost(QHostAddress(QString::fromLatin1(kProbeAddress)), 53);
    if (probe.state() == QAbstractSocket::ConnectedState)
        qDebug().noquote() << "local IPv4 address for Internet connectivity is" << probe.localAddress().toString();
    else
        qWarning().noquote() << "could not determine local IPv4 address:" << probe.errorString();

    clearStunResults();

    stunClientSip = new StunClient(this);
    connect(stunClientSip, &StunClient::updatedStunSignal, this, &MainWindow::updatedStunClientSipSlot);
    stunClientMedia = new StunClient(this);
    connect(stunClientMedia, &StunClient::updatedStunSignal, this, &MainWindow::updatedStunClientMediaSlot);

    // The settings start at AccountSettings' defaults, the database's first row.
    payloadA = QStringLiteral("8");
    payloadU = QStringLiteral("0");
    rtpmapA = QStringLiteral("a=rtpmap:8 PCMA/8000");
    rtpmapU = QStringLiteral("a=rtpmap:0 PCMU/8000");
    maxForwards = 70;
    cseq = 1;
    regCseq = 1;

    // The user agent binds sipServerPort, still "5060" here; the settings load rebinds it.
    audio = new Audio(this);

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

    // Session separator in the log.
    const QString separator = QString(53, QLatin1Char('-')) + QStringLiteral("\r\n");
    for (int i = 0; i < 3; ++i)
        qDebug().noquote() << separator;

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
    setTrayIconActions();
    showTrayIcon();
    createDb();
    moveToCenter();
}

MainWindow::~MainWindow()
{
    audio->audioStop();
    dialog->close();
    dialogOut->close();
    settings->close();
    history->close();
    ringtonStop();
    cscStop();
    db.close();
    // The timers, the player and the media owner have no parent; they end with
    // the window. They go before the form: deleting an audio device runs pending
    // events, and a late show event must still find the form in place.
    delete registerTimer;
    delete busyTimer;
    delete talkTimer;
    delete player;
    registerTimer = busyTimer = talkTimer = nullptr;
    player = nullptr;
    Audio *media = audio;
    audio = nullptr;
    delete media;
    delete ui;
    ui = nullptr;
    // Messages written after this point must not reach into a dead window.
    if (pW == this)
        pW = nullptr;
}

QString MainWindow::getApplicationFilePath()
{
    QCoreApplication::setApplicationName(QStringLiteral("sorvanto"));
    const QString path = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir dir(path);
    if (!dir.exists())
        dir.mkpath(path);
    qDebug() << path;
    return path;
}

void MainWindow::createLogFile()
{
    logFilePath = QDir::toNativeSeparators(applicationFilePath) + QDir::toNativeSeparators("/log.txt");
    delete m_logFile;
    m_logFile = new QFile(logFilePath);
    if (m_logFile->size() > kLogLimit)
        m_logFile->resize(0);
    const bool existed = m_logFile->exists();
    m_logFile->open(QIODevice::Append | QIODevice::Text);
    // The log can carry account details: keep it private to the user.
    if (!existed)
        m_logFile->setPermissions(kPrivate);
    qInstallMessageHandler(messageHandler);
}

void MainWindow::messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    if (pW && !pW->useLog)
        return;
    // Qt's own worker threads (audio back-end, host lookups) may log too; one
    // writer at a time keeps lines whole. Recursive, in case writing logs.
    static QRecursiveMutex mutex;
    QMutexLocker locker(&mutex);
    if (!m_logFile || !m_logFile->isOpen())
        return;

    const char *tag = "DBG ";
    switch (type) {
    case QtDebugMsg: tag = "DBG "; break;
    case QtWarningMsg: tag = "WRN "; break;
    case QtCriticalMsg: tag = "CRT "; break;
    case QtFatalMsg: tag = "FTL "; break;
    case QtInfoMsg: tag = "INF "; break;
    }

    QTextStream out(m_logFile);
    out.setCodec("UTF-8");
    out << QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss.zzz ") << tag
        << (context.category ? context.category : "default") << ": " << msg << '\n';
    out.flush();
    m_logFile->flush();
}

void MainWindow::writeLogFile(QString text)
{
    if (!useLog)
        return;
    QFile file(logFilePath);
    const bool existed = file.exists();
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Text))
        return;
    if (!existed)
        file.setPermissions(kPrivate);
    QTextStream out(&file);
    out.setCodec("UTF-8");
    out << text << '\n';
    out.flush();
    file.close();
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    qDebug() << "!!! showEvent bTrayActionExecute =" << bTrayActionExecute;
    // Only the first show loads the settings (a save reloads them itself): a
    // return from the tray or an incoming call leaves the sockets, the display
    // and the registration alone. Queued, because an incoming call shows the
    // window from inside the processing of its INVITE.
    if (settingsShown)
        return;
    settingsShown = true;
    QMetaObject::invokeMethod(this, [this]() {
        getSettingsDB();
        showEventAction();
    }, Qt::QueuedConnection);
}

void MainWindow::showEventActionSlot()
{
    bTrayActionExecute = false;
    getSettingsDB();
    showEventAction();
}

void MainWindow::getSettingsDB()
{
    getSettingsDB_();
    checkGlobalIp();
    if (audio && audio->sip)
        audio->sip->initSession();
    if (audio && audio->rtp)
        audio->rtp->initSession();
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
    setWindowTitle(QStringLiteral("Sorvanto - ") + user);
    setWindowIcon(QIcon(QStringLiteral(":/images/telephone.png")));

    setMainIcons();

    registeredAction();
}

void MainWindow::moveToCenter()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect r = screen->availableGeometry();
    move((r.left() + r.right()) / 2 - width() / 2, (r.top() + r.bottom()) / 2 - height() / 2);
}

// --- database ---

bool MainWindow::createDb()
{
    qDebug() << "!!!!! createDb" << QCoreApplication::applicationFilePath();
    const QString path = databasePath(applicationFilePath);
    const bool existed = QFile::exists(path);
    if (!existed) {
        // Create the file ourselves so that it is private from its first byte:
        // it holds the account password. An empty file is an empty database.
        QFile file(path);
        if (file.open(QIODevice::WriteOnly)) {
            file.setPermissions(kPrivate);
            file.close();
        }
    }
    if (!createConnectionDB())
        return false;
    createDB(); // a new file gets its tables, an older one the columns it lacks
    return true;
}

bool MainWindow::createConnectionDB()
{
    qDebug() << "!!!!! createConnectionDB";
    qDebug() << "!!!!! SQL" << QSqlDatabase::drivers();
    db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("SQLITE"));
    const QString path = databasePath(applicationFilePath);
    db.setDatabaseName(path);
    qDebug() << path;
    if (!db.open()) {
        QMessageBox::warning(nullptr, tr("Database Error"), QStringLiteral("Error open sorvanto.dat"), QMessageBox::Ok);
        return false;
    }
    return true;
}

void MainWindow::createDB()
{
    qDebug() << "!!!!! createDB";
    QString error;
    if (!SettingsStore(db).migrate(&error)) {
        qDebug() << "!!!!! createDB FAIL" << error;
        QMessageBox::warning(nullptr, tr("Database Error"), QStringLiteral("Error open sorvanto.dat"), QMessageBox::Ok);
    }
}

void MainWindow::getSettingsDB_()
{
    qDebug() << "!!!!! getSettingsDB";
    if (SettingsStore(db).load(*this))
        settingsParamDbg();
}

void MainWindow::updateSettingsDB()
{
    qDebug() << "!!!!! updateSettingsDB";
    QString error;
    if (SettingsStore(db).save(*this, &error)) {
        qDebug() << "!!!!! updateSettingsDB OK";
        getSettingsDB();
    } else {
        qDebug() << "!!!!! updateSettingsDB FAIL" << error;
    }
}

void MainWindow::setHistoryDB()
{
    qDebug() << "!!!!! setHistoryDB";
    QString error;
    if (HistoryStore(db).append(called, currtime, time, info, &error)) {
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

void MainWindow::settingsParamDbg()
{
    SettingsStore::dump(*this);
}

void MainWindow::historyParamDbg()
{
    qDebug() << "called" << called;
    qDebug() << "currtime" << currtime;
    qDebug() << "time" << time;
    qDebug() << "info" << info;
}

void MainWindow::busyStartSendSignal(QString cause) { emit busyStartSignal(cause); }

// --- network environment ---

void MainWindow::setIpfromHostName()
{
    qDebug() << "setIpfromHostName: " << sipServerIp;
    sipServerAddr = sipServerIp;
    const QHostInfo info = QHostInfo::fromName(sipServerIp);
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty())
        return;
    // SIP, SDP and STUN here speak IPv4, so an IPv4 address is preferred
    // where the name has both kinds.
    QHostAddress address = info.addresses().first();
    for (const QHostAddress &candidate : info.addresses()) {
        if (candidate.protocol() == QAbstractSocket::IPv4Protocol) {
            address = candidate;
            break;
        }
    }
    qDebug() << "get Ip from host: " << address.toString();
    sipServerAddr = address.toString();
}
bool MainWindow::isGlobalIp(QString ip)
{
    const QHostAddress address(ip);
    bool local = address == QHostAddress(QHostAddress::LocalHost) || address == QHostAddress(QHostAddress::AnyIPv4);
    for (const char *subnet : {"10.0.0.0/8", "172.16.0.0/12", "192.168.0.0/16"})
        local = local || address.isInSubnet(QHostAddress::parseSubnet(QLatin1String(subnet)));
    // Text that is no address, a name that did not resolve, counts as global.
    qDebug() << (local ? "!!!!Local ip: " : "!!!!Global ip: ") << ip;
    return !local;
}
void MainWindow::checkGlobalIp()
{
    setIpfromHostName();
    if (isGlobalIp(sipServerAddr)) {
        useSTUN = true;
        // media first: its local port becomes the RTP port
        bindStunClientMedia(STUN);
        bindStunClientSip(STUN);
        qDebug() << "server STUN = " << STUN;
        qDebug() << "stun SIP   = " << stunIpS + ":" + stunPortS;
        qDebug() << "stun local SIP = " << stunLocalPortS;
        qDebug() << "stun Media = " << stunIpM + ":" + stunPortM;
        qDebug() << "stun local Media = " << stunLocalPortM;
    } else {
        useSTUN = false;
        clearStunResults();
        // forgotten, so that the next switch to STUN looks up afresh
        if (stunClientSip)
            stunClientSip->url.clear();
        if (stunClientMedia)
            stunClientMedia->url.clear();
    }
    qDebug() << "useSTUN = " << useSTUN;
}
void MainWindow::bindStunClientSip(QString url)
{
    if (startLookup(stunClientSip, url))
        qDebug() << "!!!! bindStunClientSip url: " << url;
}
void MainWindow::bindStunClientMedia(QString url)
{
    if (startLookup(stunClientMedia, url))
        qDebug() << "!!!! bindStunClientMedia url: " << url;
}
void MainWindow::clearStunResults()
{
    stunIpS.clear();
    stunPortS.clear();
    stunIpM.clear();
    stunPortM.clear();
    stunLocalPortS = 0;
    stunLocalPortM = 0;
}
QString MainWindow::getRTPPort()
{
    // always the port the RTP socket is bound to
    if (stunPortM.isEmpty())
        return QString::number(mediaPort);
    if (stunPortM.toInt() == stunLocalPortM)
        return stunPortM;
    return QString::number(stunLocalPortM);
}
// Stores one STUN lookup's result; `kind` is "S" for the SIP port, "M" for media.
static void storeStunResult(const char *kind, const QString &ip, int port, int localPort, QString &stunIp,
                            QString &stunPort, int &stunLocalPort)
{
    stunIp = ip;
    stunPort = QString::number(port);
    stunLocalPort = localPort;
    const QByteArray k(kind);
    if (!stunIp.isEmpty()) {
        qDebug() << ("!!!! MainWindow stunIp" + k + ": ").constData() << stunIp;
        qDebug() << ("!!!! MainWindow stunPort" + k + ": ").constData() << stunPort;
    } else {
        qDebug() << ("!!!! MainWindow stunIp" + k + " stunPort" + k + ": Empty").constData();
    }
    qDebug() << ("!!!! MainWindow stunLocalPort" + k + ": ").constData() << stunLocalPort;
}

void MainWindow::updatedStunClientSipSlot(QString ip, int port, int localPort)
{
    qDebug() << "!!!! MainWindow updatedStunClientSipSlot";
    storeStunResult("S", ip, port, localPort, stunIpS, stunPortS, stunLocalPortS);
}

void MainWindow::updatedStunClientMediaSlot(QString ip, int port, int localPort)
{
    qDebug() << "!!!! MainWindow updatedStunClientMediaSlot";
    storeStunResult("M", ip, port, localPort, stunIpM, stunPortM, stunLocalPortM);
}
