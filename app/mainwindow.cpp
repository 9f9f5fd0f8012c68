// The application core: start-up, the object graph and its wiring, the log
// file, the settings and history database, and the network environment.
#include "mainwindow.h"
#include "ui_mainwindow.h"
#include "audio.h"
#include "dialog.h"
#include "dialogout.h"
#include "history.h"
#include "rtp.h"
#include "settings.h"
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
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTextStream>
#include <QTimer>
#include <QUdpSocket>

MainWindow *pW = nullptr;
QFile *m_logFile = nullptr;

namespace {

const char *const kDefaultStunUrl = "udp://stun.sipgate.net:3478";

// Target of the local-address probe: any well-known public resolver will do,
// since nothing is ever sent to it.
const char *const kProbeAddress = "9.9.9.9";

const qint64 kLogLimit = 10485760; // 10 MiB

const QFileDevice::Permissions kPrivate = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QString databasePath(const QString &dir)
{
    return QDir::toNativeSeparators(dir) + QDir::toNativeSeparators("/sorvanto.dat");
}

// Concatenated into a statement, an unset text reads as ''; bound, it would be
// NULL and break the NOT NULL columns. Bind what the statement text would hold.
QVariant sqlText(const QString &value)
{
    return value.isNull() ? QString(QLatin1String("")) : value;
}

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
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

    useSTUN = false;
    STUN = QString::fromLatin1(kDefaultStunUrl);
    clearStunResults();

    stunClientSip = new StunClient(this);
    connect(stunClientSip, &StunClient::updatedStunSignal, this, &MainWindow::updatedStunClientSipSlot);
    stunClientMedia = new StunClient(this);
    connect(stunClientMedia, &StunClient::updatedStunSignal, this, &MainWindow::updatedStunClientMediaSlot);

    sipServerPort = QStringLiteral("5060");
    transport = QStringLiteral("udp");
    registrTimeout = 3600;
    mediaPort = 60000;
    keepAlive = 0;
    hideCallerId = publicPresent = enableRewriteIp = ICE = disableSessionTimer = false;
    codecPCMA = codecPCMU = false;
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
    QCoreApplication::processEvents();
    qDebug() << "!!! showEvent bTrayActionExecute =" << bTrayActionExecute;
    if (bTrayActionExecute)
        getSettingsDB_();
    else
        getSettingsDB();
    showEventAction();
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
    if (existed)
        return true;
    createDB();
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
    QSqlQuery query(db);
    query.setForwardOnly(true);
    const QString statements[] = {
        QStringLiteral("DROP TABLE settings"),
        QStringLiteral("DROP TABLE history"),
        QStringLiteral("DROP TABLE number"),
        QStringLiteral("CREATE TABLE settings (id INTEGER PRIMARY KEY AUTOINCREMENT, account VARCHAR(45) NOT NULL, "
                       "sipServerIp VARCHAR(45) NOT NULL, sipProxyIp VARCHAR(45) NULL, sipServerPort VARCHAR(32) NOT NULL, "
                       "user VARCHAR(45) NOT NULL, domain VARCHAR(45) NOT NULL, login VARCHAR(45) NULL, "
                       "password VARCHAR(45) NULL, name VARCHAR(45) NULL, voicemail VARCHAR(45) NULL, "
                       "prefix VARCHAR(45) NULL, plan VARCHAR(45) NULL, hideCallerId VARCHAR(32) NOT NULL, "
                       "encryptMedia VARCHAR(45) NOT NULL, transport VARCHAR(45) NOT NULL, publicAddr VARCHAR(45) NOT NULL, "
                       "registrTimeout INTEGER NOT NULL, keepAlive INTEGER NOT NULL, publicPresent VARCHAR(32) NOT NULL, "
                       "enableRewriteIp VARCHAR(32) NOT NULL, ICE VARCHAR(32) NOT NULL, disableSessionTimer VARCHAR(32) NOT NULL, "
                       "useLog VARCHAR(32) NOT NULL, mediaIp VARCHAR(45) NOT NULL, mediaPort INTEGER NOT NULL, "
                       "codecPCMA VARCHAR(32) NOT NULL, codecPCMU VARCHAR(32) NOT NULL, useSTUN VARCHAR(32) NOT NULL, "
                       "STUN VARCHAR(32) NOT NULL )"),
        QStringLiteral("INSERT INTO settings (account, sipServerIp, sipProxyIp, sipServerPort, user, domain, login, "
                       "password, name, voicemail, prefix, plan, hideCallerId, encryptMedia, transport, publicAddr, "
                       "registrTimeout, keepAlive, publicPresent, enableRewriteIp, ICE, disableSessionTimer, useLog, "
                       "mediaIp, mediaPort, codecPCMA, codecPCMU, useSTUN, STUN) VALUES ('', '', '', '5060', '', '', '', "
                       "'', '', '', '', '', 'false', 'Отключено', 'UDP', '', 3600, 15, 'false', 'false', 'false', 'false', "
                       "'true', '', 60000, 'true', 'true', 'false', '")
            + QString::fromLatin1(kDefaultStunUrl) + QStringLiteral("')"),
        QStringLiteral("CREATE TABLE history (id INTEGER PRIMARY KEY AUTOINCREMENT, called VARCHAR(50) NOT NULL, "
                       "ctime VARCHAR(50) NOT NULL, time VARCHAR(50) NOT NULL, info VARCHAR(50) NULL)"),
        QStringLiteral("CREATE TABLE number (id INTEGER PRIMARY KEY AUTOINCREMENT, num VARCHAR(50) NOT NULL, "
                       "info VARCHAR(50) NULL)"),
        QStringLiteral("CREATE TABLE historybox (id INTEGER PRIMARY KEY AUTOINCREMENT, called VARCHAR(50) NOT NULL, "
                       "ctime VARCHAR(50) NOT NULL, info VARCHAR(50) NULL)"),
    };
    for (const QString &statement : statements)
        query.exec(statement);
}

void MainWindow::getSettingsDB_()
{
    qDebug() << "!!!!! getSettingsDB";
    QSqlQuery query(db);
    query.exec(QStringLiteral("SELECT * FROM settings WHERE id=1"));
    while (query.next()) {
        account = query.value(1).toString();
        sipServerIp = query.value(2).toString();
        sipProxyIp = query.value(3).toString();
        sipServerPort = query.value(4).toString();
        user = query.value(5).toString();
        domain = query.value(6).toString();
        login = query.value(7).toString();
        password = query.value(8).toString();
        name = query.value(9).toString();
        voicemail = query.value(10).toString();
        prefix = query.value(11).toString();
        plan = query.value(12).toString();
        hideCallerId = query.value(13).toBool();
        encryptMedia = query.value(14).toString();
        transport = query.value(15).toString();
        publicAddr = query.value(16).toString();
        registrTimeout = query.value(17).toInt();
        keepAlive = query.value(18).toInt();
        publicPresent = query.value(19).toBool();
        enableRewriteIp = query.value(20).toBool();
        ICE = query.value(21).toBool();
        disableSessionTimer = query.value(22).toBool();
        useLog = query.value(23).toBool();
        mediaIp = query.value(24).toString();
        mediaPort = query.value(25).toInt();
        codecPCMA = query.value(26).toBool();
        codecPCMU = query.value(27).toBool();
        // Column 28 (useSTUN) is decided afresh by the network check, never loaded.
        STUN = query.value(29).toString();
        settingsParamDbg();
    }
}

void MainWindow::updateSettingsDB()
{
    qDebug() << "!!!!! updateSettingsDB";
    // Every value is bound, so a quote in a setting is stored as typed.
    QSqlQuery query(db);
    query.prepare(QStringLiteral(
        "UPDATE settings SET account=?, sipServerIp=?, sipProxyIp=?, sipServerPort=?, user=?, domain=?, login=?, "
        "password=?, name=?, voicemail=?, prefix=?, plan=?, hideCallerId = ?, encryptMedia = ?, transport = ?, "
        "publicAddr = ?, publicPresent = ?, enableRewriteIp = ?, ICE = ?, disableSessionTimer = ?, useLog = ?, "
        "codecPCMA = ?, codecPCMU = ?, useSTUN = ?, STUN = ?, mediaIp = ?, registrTimeout = ?, keepAlive = ?, "
        "mediaPort = ? WHERE id=1"));
    const QVariant values[] = {
        sqlText(account), sqlText(sipServerIp), sqlText(sipProxyIp), sqlText(sipServerPort), sqlText(user),
        sqlText(domain), sqlText(login), sqlText(password), sqlText(name), sqlText(voicemail), sqlText(prefix),
        sqlText(plan), boolText(hideCallerId), sqlText(encryptMedia), sqlText(transport), sqlText(publicAddr),
        boolText(publicPresent), boolText(enableRewriteIp), boolText(ICE), boolText(disableSessionTimer),
        boolText(useLog), boolText(codecPCMA), boolText(codecPCMU), boolText(useSTUN), sqlText(STUN),
        sqlText(mediaIp), registrTimeout, keepAlive, mediaPort,
    };
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (query.exec()) {
        qDebug() << "!!!!! updateSettingsDB OK";
        getSettingsDB();
    } else {
        qDebug() << "!!!!! updateSettingsDB FAIL" << query.lastError().text();
    }
}

void MainWindow::setHistoryDB()
{
    qDebug() << "!!!!! setHistoryDB";
    QSqlQuery query(db);
    query.prepare(QStringLiteral("INSERT INTO history (called,  ctime, time, info )VALUES (?, ?, ?, ?)"));
    query.addBindValue(sqlText(called));
    query.addBindValue(sqlText(currtime));
    query.addBindValue(sqlText(time));
    query.addBindValue(sqlText(info));
    if (query.exec()) {
        qDebug() << "!!!!! setHistoryDB OK";
        historyParamDbg();
        getHistoryDB();
        setComboBoxHistoryDB();
    } else {
        qDebug() << "!!!!! setHistoryDB FAIL" << query.lastError().text();
    }
}

void MainWindow::getHistoryDB()
{
    QSqlQuery query(db);
    query.exec(QStringLiteral("SELECT * FROM history"));
    while (query.next()) {
        qDebug() << " called = " << query.value(1).toString() << " currtime = " << query.value(2).toString()
                 << " time = " << query.value(3).toString() << " info = " << query.value(4).toString();
    }
}

void MainWindow::setComboBoxHistoryDB()
{
    QComboBox *box = ui->comboBox;
    box->clear();

    // Only outgoing calls feed the box, one row per number, first seen wins.
    QSqlQuery query(db);
    query.exec(QStringLiteral("SELECT * FROM history WHERE info = 'Out' ORDER BY ctime DESC"));
    while (query.next()) {
        const QString number = query.value(1).toString();
        bool present = false;
        QSqlQuery seen(db);
        seen.exec(QStringLiteral("SELECT * FROM historybox"));
        while (!present && seen.next())
            present = seen.value(1).toString() == number;
        if (present)
            continue;
        QSqlQuery insert(db);
        insert.prepare(QStringLiteral("INSERT INTO historybox (called, ctime, info )VALUES (?, ?, ?)"));
        insert.addBindValue(sqlText(number));
        insert.addBindValue(sqlText(query.value(2).toString()));
        insert.addBindValue(sqlText(query.value(4).toString()));
        insert.exec();
    }

    query.exec(QStringLiteral("SELECT * FROM historybox ORDER BY ctime DESC"));
    box->addItem(QStringLiteral("Недавние"));
    box->setItemData(0, int(Qt::AlignLeft), Qt::TextAlignmentRole);
    while (query.next()) {
        box->addItem(query.value(1).toString() + QStringLiteral("  "));
        box->setItemData(box->count() - 1, int(Qt::AlignRight), Qt::TextAlignmentRole);
    }
}

void MainWindow::settingsParamDbg()
{
    qDebug() << "account" << account;
    qDebug() << "sipServerIp" << sipServerIp;
    qDebug() << "sipProxyIp" << sipProxyIp;
    qDebug() << "sipServerPort" << sipServerPort;
    qDebug() << "user" << user;
    qDebug() << "domain" << domain;
    qDebug() << "login" << login;
    // The password never reaches the log.
    qDebug() << "password" << "***";
    qDebug() << "name" << name;
    qDebug() << "voicemail" << voicemail;
    qDebug() << "prefix" << prefix;
    qDebug() << "plan" << plan;
    qDebug() << "hideCallerId" << hideCallerId;
    qDebug() << "encryptMedia" << encryptMedia;
    qDebug() << "transport" << transport;
    qDebug() << "publicAddr" << publicAddr;
    qDebug() << "registrTimeout" << registrTimeout;
    qDebug() << "keepAlive" << keepAlive;
    qDebug() << "publicPresent" << publicPresent;
    qDebug() << "enableRewriteIp" << enableRewriteIp;
    qDebug() << "ICE" << ICE;
    qDebug() << "disableSessionTimer" << disableSessionTimer;
    qDebug() << "useLog" << useLog;
    qDebug() << "mediaIp" << mediaIp;
    qDebug() << "mediaPort" << mediaPort;
    qDebug() << "codecPCMA" << codecPCMA;
    qDebug() << "codecPCMU" << codecPCMU;
    qDebug() << "useSTUN" << useSTUN;
    qDebug() << "STUN" << STUN;
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
