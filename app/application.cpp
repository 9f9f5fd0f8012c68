#include "application.h"

#include "audio.h"
#include "historystore.h"
#include "mainwindow.h"
#include "networkenvironment.h"
#include "audiothread.h"
#include "rtp.h"
#include "settings.h"
#include "settingsstore.h"
#include "sip.h"
#include "sipheader.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QMutex>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTextStream>
#include <QUdpSocket>

namespace {

// Target of the local-address probe: any well-known public resolver will do,
// since nothing is ever sent to it.
const char *const kProbeAddress = "9.9.9.9";

const qint64 kLogLimit = 10485760; // 10 MiB

const QFileDevice::Permissions kPrivate = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// The process-wide message handler has no context argument: these are what it
// writes to and the switch it obeys, set by the one application object.
QFile *logFile = nullptr;
const AccountSettings *logSettings = nullptr;

QString databasePath(const QString &dir)
{
    return QDir::toNativeSeparators(dir) + QDir::toNativeSeparators("/sorvanto.dat");
}

} // namespace

Application::Application(QObject *parent)
    : QObject(parent)
{
    Q_INIT_RESOURCE(tray);
    applicationFilePath = getApplicationFilePath();
    qDebug() << "applicationFilePath" << applicationFilePath;

    settings.useLog = true;
    logSettings = &settings;
    // The message layer asks before formatting a line the handler would drop.
    SipHeader::setLogSwitch([] {
        return logSettings ? logSettings->useLog : QLoggingCategory::defaultCategory()->isDebugEnabled();
    });
    createLogFile();

    // A UDP connect sends nothing; it only picks the route, so the local
    // address is known at once even when the resolver's port is filtered.
    QUdpSocket probe;
    probe.connectToHost(QHostAddress(QString::fromLatin1(kProbeAddress)), 53);
    if (probe.state() == QAbstractSocket::ConnectedState)
        qDebug().noquote() << "local IPv4 address for Internet connectivity is" << probe.localAddress().toString();
    else
        qWarning().noquote() << "could not determine local IPv4 address:" << probe.errorString();

    // The settings start at AccountSettings' defaults, the database's first row.

    network = new NetworkEnvironment(settings, this);
    sip = new Sip(settings, *network, this);
    // The RTP session and the audio devices are made on the audio thread and
    // live there; what the user agent settles reaches them in order, queued.
    audioThread = new AudioThread(this);
    runOn(audioThread->context(), [this] {
        rtp = new Rtp;
        audio = new Audio(rtp);
    });
    connect(sip, &Sip::mediaAddressChanged, rtp, &Rtp::setRemoteAddress);
    connect(sip, &Sip::mediaChanged, rtp, &Rtp::setMedia);

    // Session separator in the log.
    const QString separator = QString(53, QLatin1Char('-')) + QStringLiteral("\r\n");
    for (int i = 0; i < 3; ++i)
        qDebug().noquote() << separator;

    window = new MainWindow(settings, network, sip, audio);
    window->logFilePath = logFilePath;
    connect(sip, &Sip::registrationChanged, window, &MainWindow::registrationChangedSlot);
    connect(sip, &Sip::incomingCall, window, &MainWindow::incomingCallSlot);
    connect(sip, &Sip::sessionProgress, window, &MainWindow::rx183Signal);
    connect(sip, &Sip::callAnswered, window, &MainWindow::audioStartSignal);
    connect(sip, &Sip::callHungUp, window, &MainWindow::audioStopSignal);
    connect(sip, &Sip::callEnded, window, &MainWindow::callEndedSlot);
    connect(rtp, &Rtp::encryptionChanged, window, &MainWindow::mediaEncryptionSlot);
    connect(sip, &Sip::remoteHoldChanged, window, &MainWindow::remoteHoldSlot);
    connect(sip, &Sip::redirected, window, &MainWindow::redirectedSlot);
    connect(sip, &Sip::transportError, window, &MainWindow::transportErrorSlot);
    connect(window->settings, &Settings::saveSignal, this, &Application::settingsSaved);

    createDb();
    window->db = db;
}

Application::~Application()
{
    audio->audioStop();
    // The audio devices and the socket go first, on their own thread, which
    // then ends. A call window the window closes on its way out finds no
    // audio to stop.
    window->audio = nullptr;
    runOn(audioThread->context(), [this] {
        delete audio;
        delete rtp;
    });
    audio = nullptr;
    rtp = nullptr;
    delete audioThread;
    audioThread = nullptr;
    delete window;
    window = nullptr;
    db.close();
    // Messages written after this point must not reach into a dead object.
    if (logSettings == &settings)
        logSettings = nullptr;
}

void Application::start()
{
    getSettingsDB();
    window->registeredAction();
    window->showEventAction();
    window->show();
}

// --- log ---

QString Application::getApplicationFilePath()
{
    QCoreApplication::setApplicationName(QStringLiteral("sorvanto"));
    const QString path = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir dir(path);
    if (!dir.exists())
        dir.mkpath(path);
    qDebug() << path;
    return path;
}

void Application::createLogFile()
{
    logFilePath = QDir::toNativeSeparators(applicationFilePath) + QDir::toNativeSeparators("/log.txt");
    delete logFile;
    logFile = new QFile(logFilePath);
    if (logFile->size() > kLogLimit)
        logFile->resize(0);
    const bool existed = logFile->exists();
    logFile->open(QIODevice::Append | QIODevice::Text);
    // The log can carry account details: keep it private to the user.
    if (!existed)
        logFile->setPermissions(kPrivate);
    qInstallMessageHandler(messageHandler);
}

void Application::messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    if (logSettings && !logSettings->useLog)
        return;
    // Qt's own worker threads (audio back-end, host lookups) may log too; one
    // writer at a time keeps lines whole. Recursive, in case writing logs.
    static QRecursiveMutex mutex;
    QMutexLocker locker(&mutex);
    if (!logFile || !logFile->isOpen())
        return;

    const char *tag = "DBG ";
    switch (type) {
    case QtDebugMsg: tag = "DBG "; break;
    case QtWarningMsg: tag = "WRN "; break;
    case QtCriticalMsg: tag = "CRT "; break;
    case QtFatalMsg: tag = "FTL "; break;
    case QtInfoMsg: tag = "INF "; break;
    }

    // SRTP master keys travel in the SDP (a=crypto ... inline:KEY); whatever
    // prints a message, the key never reaches the file.
    QString line = msg;
    if (line.contains(QLatin1String("inline:"))) {
        static const QRegularExpression key(QStringLiteral("inline:[^\\s|;]*"));
        line.replace(key, QStringLiteral("inline:[hidden]"));
    }

    QTextStream out(logFile);
    out.setCodec("UTF-8");
    out << QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss.zzz ") << tag
        << (context.category ? context.category : "default") << ": " << line << '\n';
    out.flush();
    logFile->flush();
}

void Application::writeLogFile(const QString &text)
{
    if (!settings.useLog)
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

// --- database ---

bool Application::createDb()
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

bool Application::createConnectionDB()
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

void Application::createDB()
{
    qDebug() << "!!!!! createDB";
    QString error;
    if (!SettingsStore(db).migrate(&error)) {
        qDebug() << "!!!!! createDB FAIL" << error;
        QMessageBox::warning(nullptr, tr("Database Error"), QStringLiteral("Error open sorvanto.dat"), QMessageBox::Ok);
    }
}

void Application::getSettingsDB_()
{
    qDebug() << "!!!!! getSettingsDB";
    if (SettingsStore(db).load(settings))
        settingsParamDbg();
}

void Application::getSettingsDB()
{
    getSettingsDB_();
    network->checkGlobalIp();
    sip->initSession();
    const int rtpPort = network->rtpBindPort();
    runOn(rtp, [this, rtpPort] {
        rtp->localPort = rtpPort;
        rtp->bindSocket(rtpPort);
    });
    audio->setEchoCancel(settings.echoCancel);
}

bool Application::updateSettingsDB()
{
    qDebug() << "!!!!! updateSettingsDB";
    QString error;
    if (SettingsStore(db).save(settings, &error)) {
        qDebug() << "!!!!! updateSettingsDB OK";
        return true;
    }
    qDebug() << "!!!!! updateSettingsDB FAIL" << error;
    return false;
}

void Application::settingsParamDbg()
{
    SettingsStore::dump(settings);
}

void Application::settingsSaved()
{
    updateSettingsDB();
    getSettingsDB();
    window->bTrayActionExecute = false;
    window->showEventAction();
    window->registeredAction();
}
