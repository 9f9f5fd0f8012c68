#pragma once
// A private, empty application-data directory for one test: points HOME at a
// fresh temporary directory and turns on Qt's test-mode paths (under HOME, whatever
// XDG_DATA_HOME says), so the phone's database and log never touch the user's own.
#include <QStandardPaths>
#include <QTemporaryDir>

class PrivateDataDir
{
public:
    PrivateDataDir() { qputenv("HOME", QFile::encodeName(m_dir.path())), QStandardPaths::setTestModeEnabled(true); }
    ~PrivateDataDir() { qputenv("HOME", m_oldHome); }
    // Where the phone keeps sorvanto.dat and log.txt (its application name, no organisation).
    QString dataPath() const { return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/sorvanto"; }
    QString databaseFile() const { return dataPath() + "/sorvanto.dat"; }
    QString logFile() const { return dataPath() + "/log.txt"; }

private:
    QByteArray m_oldHome = qgetenv("HOME");
    QTemporaryDir m_dir;
};
