#include "agentfixture.h"

#include "audio.h"
#include "mainwindow.h"
#include "sip.h"
#include "sipparser.h"
#include "siptestserver.h"

#include <QStandardPaths>
#include <QStringList>
#include <QTimer>

AgentFixture::AgentFixture(quint16 serverPort)
{
    QStandardPaths::setTestModeEnabled(true);
    if (pW) {
        window = pW;
    } else {
        window = new MainWindow();
        m_ownsWindow = true;
    }
    // Only the user agent should act: the window's own reactions (tones, call
    // windows, audio) are other subsystems' business and stay detached.
    QObject::disconnect(window, nullptr, window, nullptr);
    for (QTimer *timer : {window->registerTimer, window->busyTimer, window->talkTimer})
        if (timer)
            timer->stop();

    port = serverPort ? serverPort : SipTestServer::freePort();
    window->user = QStringLiteral("100");
    window->login = QStringLiteral("100");
    window->password = QStringLiteral("pw100");
    window->domain = QStringLiteral("127.0.0.2");
    window->sipServerIp = QStringLiteral("127.0.0.2");
    window->sipServerAddr = QStringLiteral("127.0.0.2");
    window->sipServerPort = QString::number(port);
    window->mediaIp = QStringLiteral("127.0.0.1");
    window->mediaPort = 40000;
    window->useSTUN = false;
    window->stunIpM.clear();
    window->registrTimeout = 3600;
    window->cseq = 1;

    if (window->audio && window->audio->sip) {
        sip = window->audio->sip;
    } else {
        sip = new Sip(window->audio);
        if (window->audio)
            window->audio->sip = sip;
    }
    parser = sip->parser;
    parser->callState = 0;
    parser->callDirection = 0;
    sip->initSession();

    server = new SipTestServer();
    m_ready = port != 0 && server->listen(QHostAddress(QStringLiteral("127.0.0.2")), port);
}

AgentFixture::~AgentFixture()
{
    delete server;
    if (m_ownsWindow) {
        delete window;
    }
}

QString AgentFixture::message(const QStringList &lines, const QString &body)
{
    return lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n\r\n") + body;
}
