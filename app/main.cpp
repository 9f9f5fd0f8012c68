#include "application.h"
#include "processexit.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QLockFile>
#include <QMessageBox>

namespace {

// A copy killed between making the lock file and writing its process into it
// leaves the file empty, and Qt takes a lock it cannot read for a live copy's
// until the file is 30 s old. A live copy keeps its file locked, so that
// removing it fails; one no copy holds is taken over.
bool takeOverUnreadable(QLockFile &lock)
{
    qint64 pid = 0;
    QString host, app;
    return !lock.getLockInfo(&pid, &host, &app) && lock.removeStaleLockFile() && lock.tryLock(300);
}

int run(int argc, char *argv[])
{
    QApplication a(argc, argv);

    // One copy per user: the lock lives in the temporary directory and is
    // released when this function returns.
    QLockFile lockFile(QDir(QDir::tempPath()).absoluteFilePath("sorvanto.lock"));
    if (!lockFile.tryLock(300) && !takeOverUnreadable(lockFile)) {
        const QString text = QStringLiteral("Приложение уже запущено и находится в системном трее Windows.");
        // No log is open in this copy, so the warning also goes to stderr,
        // where a script or a supervisor can see it.
        qWarning().noquote() << text;
        QMessageBox box(QMessageBox::Warning, QString(), text);
        box.exec();
        return 1;
    }

    int code;
    {
        Application application;
        application.start();
        code = a.exec();
    }
    return code;
}

} // namespace

int main(int argc, char *argv[])
{
    // Everything of ours, the lock file included, is closed when run() returns.
    ProcessExit::leave(run(argc, argv));
}
