#include "application.h"
#include "processexit.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QLockFile>
#include <QMessageBox>

namespace {

int run(int argc, char *argv[])
{
    QApplication a(argc, argv);

    // One copy per user: the lock lives in the temporary directory and is
    // released when this function returns.
    QLockFile lockFile(QDir(QDir::tempPath()).absoluteFilePath("sorvanto.lock"));
    if (!lockFile.tryLock(300)) {
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
