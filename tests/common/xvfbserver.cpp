#include "xvfbserver.h"

#include "peerprocess.h"

#include <QProcessEnvironment>

XvfbServer::~XvfbServer()
{
    stop();
}

bool XvfbServer::start()
{
    // -displayfd: Xvfb takes the first free display and writes its number to
    // the given descriptor once it accepts connections. -noreset: without it the
    // server resets when its last client leaves, and a phone restarted at that
    // moment cannot connect.
    m_process.setProgram("Xvfb");
    m_process.setArguments({"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"});
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start();
    if (!m_process.waitForStarted(5000)) {
        m_error = "Xvfb could not be started (is the xvfb package installed?): " + m_process.errorString();
        return false;
    }
    QByteArray out;
    while (!out.contains('\n')) {
        if (!m_process.waitForReadyRead(10000)) {
            m_error = "Xvfb did not report a display: " + QString::fromLocal8Bit(m_process.readAllStandardError());
            stop();
            return false;
        }
        out += m_process.readAllStandardOutput();
    }
    m_display = ":" + QString::fromLatin1(out.trimmed());
    return true;
}

void XvfbServer::stop()
{
    PeerProcess::stop(m_process, 5000);
}

bool XvfbServer::xdotoolOn(const QString &display, const QStringList &arguments, QString *output, int timeoutMs)
{
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    tool.setProcessEnvironment(env);
    tool.start("xdotool", arguments);
    if (!tool.waitForFinished(timeoutMs)) {
        tool.kill();
        tool.waitForFinished(2000);
        return false;
    }
    if (output)
        *output = QString::fromLocal8Bit(tool.readAllStandardOutput());
    return tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}
