#ifndef APPLICATION_H
#define APPLICATION_H

// The application object: creates the log, the database, the network
// environment, the user agent, the RTP session, the audio devices and the
// main window as siblings, connects them, and owns the order of start-up:
// settings loaded, network evaluated and the first REGISTER sent once each.

#include "accountsettings.h"

#include <QObject>
#include <QSqlDatabase>
#include <QString>

class Audio;
class AudioThread;
class MainWindow;
class NetworkEnvironment;
class Rtp;
class Sip;

class Application : public QObject
{
    Q_OBJECT

public:
    explicit Application(QObject *parent = nullptr);
    ~Application() override;

    // Loads the settings, evaluates the network, binds the sockets, sends the
    // first REGISTER and shows the main window.
    void start();

    // --- log ---
    static QString getApplicationFilePath();
    void createLogFile();
    static void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg);
    void writeLogFile(const QString &text);

    // --- database ---
    bool createDb();
    bool createConnectionDB();
    void createDB();
    // The stored row into the settings.
    void getSettingsDB_();
    // Loads the settings, then evaluates the network and re-binds the sockets.
    void getSettingsDB();
    // Stores the settings; the caller applies them.
    bool updateSettingsDB();
    void settingsParamDbg();
    // The settings dialog saved: store, apply, register again.
    void settingsSaved();

    AccountSettings settings;
    QSqlDatabase db;
    QString applicationFilePath;
    QString logFilePath;

    NetworkEnvironment *network = nullptr;
    Sip *sip = nullptr;
    Rtp *rtp = nullptr;
    AudioThread *audioThread = nullptr;
    Audio *audio = nullptr;
    MainWindow *window = nullptr;
};

#endif // APPLICATION_H
