#ifndef PRIVATEDATADIR_H
#define PRIVATEDATADIR_H

// A private, empty application-data directory for one test: points HOME and
// XDG_DATA_HOME at a fresh temporary directory and turns on Qt's test-mode
// paths, so the phone's database and log never touch the user's own.

#include <QString>
#include <QTemporaryDir>

class PrivateDataDir
{
public:
    PrivateDataDir();
    ~PrivateDataDir();
    PrivateDataDir(const PrivateDataDir &) = delete;
    PrivateDataDir &operator=(const PrivateDataDir &) = delete;

    bool isValid() const { return m_dir.isValid(); }
    // The temporary root (HOME and XDG_DATA_HOME point here while this lives).
    QString root() const { return m_dir.path(); }
    // Where the phone keeps sorvanto.dat and log.txt.
    QString dataPath() const;
    QString databaseFile() const { return dataPath() + "/sorvanto.dat"; }
    QString logFile() const { return dataPath() + "/log.txt"; }

private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome;
    QByteArray m_oldDataHome;
};

#endif // PRIVATEDATADIR_H
