#include "xvfbserver.h"

#include <QProcessEnvironment>

bool XvfbServer::start()
{
    // -displayfd: Xvfb takes the first free display and writes its number to
    // the given descriptor once it accepts connections. -noreset: without it the
    // server resets when its last client leaves, and a phone restarted at that
    // moment cannot connect.
    QByteArray out;
    return launch({"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"}, true)
        && waitReady([&] {
               out += m_process.readAllStandardOutput();
               m_display = ":" + QString::fromLatin1(out.trimmed());
               return out.contains('\n');
           }, 10000, QStringLiteral("display number"));
}

bool XvfbServer::xdotoolOn(const QString &display, const QStringList &arguments, QString *output, int timeoutMs)
{
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    tool.setProcessEnvironment(env);
    tool.start("xdotool", arguments);
    if (!tool.waitForFinished(timeoutMs)) {
        PeerProcess::stop(tool, 0);
        return false;
    }
    if (output)
        *output = QString::fromLocal8Bit(tool.readAllStandardOutput());
    return tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}
