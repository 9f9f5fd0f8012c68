// Every builder's wire text byte for byte (tests/data/agent, random parts masked): REGISTER and INVITE
// with and without credentials, the port rule of request-URIs, CANCEL, both BYEs, 200 OK and 486;
// the SDP offer and answer in RFC 4566 order, the origin's version one up.

#include "agentfixture.h"
#include "networkenvironment.h"
#include "sip.h"
#include "sipbuilder.h"
#include "sipparser.h"
#include "siprequest.h"
#include "sipresponse.h"
#include "testmain.h"

#include <QRegularExpression>
#include <QtTest>

#include <functional>
#include <memory>

// A message in tests/data/agent, its lines ended with CR LF.
static QString dataText(const QString &name)
{
    QFile file(QFINDTESTDATA("../data/agent/" + name + ".txt"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).replace('\n', "\r\n") : QString();
}

class TstBuilders : public QObject
{
    Q_OBJECT

private slots:
    void wireText_data()
    {
        QTest::addColumn<QString>("port");
        for (const char *row : {"register", "register-retry", "invite", "invite-retry", "answer", "busy", "bye-in"})
            QTest::newRow(row) << "5060";
        for (const char *row : {"invite-5070", "cancel", "bye-out"})
            QTest::newRow(row) << "5070";
    }

    void wireText()
    {
        QFETCH(QString, port);
        const QString row = QTest::currentDataTag();
        AgentFixture phone;
        AccountSettings &s = phone.settings;
        SipBuilder *p = phone.sip->builder;
        s.domain = s.sipServerIp = "10.0.0.5";
        s.mediaIp = "192.168.1.10";
        s.sipServerPort = port;
        phone.sip->dialog.called = "200";
        phone.sip->dialog.cseq = 7;
        phone.network->stunIpM = row == "invite" ? "203.0.113.7" : "";
        // The answers' INVITE, from 200 through two proxies.
        const bool answer = row == "answer" || row == "busy" || row == "bye-in";
        if (answer)
            phone.sip->parser->parse(dataText("invite-in"), "10.0.0.5", port);
        // The call's SDP origin so far: the next description goes one version up.
        phone.sip->dialog.sdpOrigin = {"-", 482913765, 482913770, "192.168.1.10"};
        std::unique_ptr<SipPacket> msg(answer ? nullptr
                                              : row.startsWith("register") ? p->registration("100") : p->invite("100", "200"));
        const QString credentials = "Digest username=\"100\"";
        const QHash<QString, std::function<SipPacket *()>> build{
            {"register-retry", [&] { return p->registration("100", credentials); }},
            {"invite-retry", [&] { return p->invite("100", "200", credentials, 2); }},
            {"answer", [&] { return p->answer200Ok(); }}, {"busy", [&] { return p->busyIn(); }},
            {"bye-in", [&] { return p->disconnectIn(); }}, {"cancel", [&] { return p->busyOut(); }},
            {"bye-out", [&] { return p->disconnectOut(); }}};
        if (build.contains(row))
            msg.reset(build[row]());
        QVERIFY(msg);
        QString text = msg->toString();
        text.replace(QRegularExpression("branch=z9hG4bK[0-9A-Za-z]{34}(?![0-9A-Za-z])"), "branch=z9hG4bK{branch}");
        text.replace(QRegularExpression("tag=[0-9A-Za-z]{8}(?![0-9A-Za-z])"), "tag={tag}");
        text.replace(QRegularExpression("Call-ID: [0-9A-Za-z]{32}\r\n"), "Call-ID: {callid}\r\n");
        text.replace("m=audio " + phone.network->getRTPPort() + ' ', "m=audio {port} ");
        QCOMPARE(text, dataText(row));
    }
};

SORVANTO_TEST_MAIN(TstBuilders)
#include "tst_builders.moc"
