#include "privatedatadir.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

PrivateDataDir::PrivateDataDir()
    : m_oldHome(qgetenv("HOME")), m_oldDataHome(qgetenv("XDG_DATA_HOME"))
{
    qputenv("HOME", QFile::encodeName(m_dir.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.path() + "/share"));
    QStandardPaths::setTestModeEnabled(true);
}

PrivateDataDir::~PrivateDataDir()
{
    qputenv("HOME", m_oldHome);
    qputenv("XDG_DATA_HOME", m_oldDataHome);
}

QString PrivateDataDir::dataPath() const
{
    const QString saved = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName("sorvanto");
    const QString path = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QCoreApplication::setApplicationName(saved);
    return path;
}
