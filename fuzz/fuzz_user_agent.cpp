// Datagrams from the server through the user agent's whole receive path
// (parse, processing, dialog, transactions, builders), with no window and no
// event loop: one user agent for the run, its dialog made new for each input.
// Its transport records what it sends instead, and every message sent must
// be framed so a stream peer reads it as one message, whatever came in. The first byte picks a
// user command to run first, so the call states are reached; "\xff"
// separates datagrams. The transactions' timers never fire.
#include "accountsettings.h"
#include "networkenvironment.h"
#include "sip.h"
#include "sipparser.h"
#include "sipprocessor.h"
#include "siptransactions.h"
#include "siptransport.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QMutexLocker>

#include <cstddef>
#include <cstdint>
#include <new>

namespace {

class RecordingTransport : public SipTransport
{
public:
    using SipTransport::SipTransport;
    Kind kind() const override { return Kind::Udp; }
    void setServer(const QString &, const QHostAddress &, quint16) override { }
    void bindLocal(quint16) override { }
    quint16 localPort() const override { return 5060; }
    void sendMessage(const QByteArray &message) override { sent << message; }
    void sendKeepAlive() override { }
    void close() override { }

    QList<QByteArray> sent;
};

// The next input meets a user agent as new, and what this one allocated is
// freed before it ends: an input that leaves memory behind sets off a leak
// check that costs a hundred inputs.
void reset(Sip *sip, RecordingTransport *transport)
{
    sip->transactions->clear();
    // The timers go by deleteLater(), whose events no loop here delivers.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    sip->dialog.~SipDialog();
    new (&sip->dialog) SipDialog;
    sip->dialog.called = QStringLiteral("200");
    sip->registered = false;
    sip->grantedExpiry = 0;
    SipProcessor *p = sip->processor;
    for (QString *field : {&p->fromNum, &p->fromName, &p->fromAddr, &p->fromAddrIp, &p->fromAddrPort, &p->fromTag,
                           &p->toNum, &p->toAddr, &p->toAddrIp, &p->toAddrPort, &p->toTag, &p->contactNum,
                           &p->contactAddr, &p->contactAddrIp, &p->contactAddrPort, &p->contactTag, &p->callId_,
                           &p->metod_, &p->cseqMethod, &p->status, &p->note})
        *field = QString();
    sip->parser->token = QString();
    sip->parser->headerName = QString();
    transport->sent = QList<QByteArray>();
}

// Lines that all end in CR LF, none bare, up to the empty line, and one
// Content-Length line, the last, that counts the body exactly: what a
// stream peer needs to find where the message ends.
bool wellFramed(const QByteArray &message)
{
    const int end = message.indexOf("\r\n\r\n");
    if (end < 0)
        return false;
    const QByteArray head = message.left(end + 2);
    if (head.count('\r') != head.count("\r\n") || head.count('\n') != head.count("\r\n"))
        return false;
    const QList<QByteArray> lines = head.split('\n');
    int lengths = 0;
    for (const QByteArray &line : lines)
        lengths += line.startsWith("Content-Length: ");
    const QByteArray last = lines.value(lines.size() - 2);
    bool ok = false;
    return lengths == 1 && last.startsWith("Content-Length: ")
        && last.mid(16).trimmed().toInt(&ok) == message.size() - end - 4 && ok;
}

void quiet(QtMsgType, const QMessageLogContext &, const QString &) { }

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Timers need a thread with an event dispatcher, even those never run.
    new QCoreApplication(*argc, *argv);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    qInstallMessageHandler(quiet);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static AccountSettings settings = [] {
        AccountSettings s;
        s.user = s.login = QStringLiteral("100");
        s.password = QStringLiteral("pw100");
        s.domain = s.sipServerIp = QStringLiteral("127.0.0.2");
        s.sipServerPort = QStringLiteral("5060");
        s.mediaIp = QStringLiteral("127.0.0.1");
        return s;
    }();
    static NetworkEnvironment *network = [] {
        auto *n = new NetworkEnvironment(settings);
        n->sipServerAddr = settings.sipServerIp;
        return n;
    }();
    static RecordingTransport *transport = nullptr;
    static Sip *sip = [] {
        auto *s = new Sip(settings, *network);
        s->transport = transport = new RecordingTransport(s);
        reset(s, transport);
        return s;
    }();

    const QByteArray input(reinterpret_cast<const char *>(data), int(size));
    if (!input.isEmpty()) {
        static const char *const commands[] = {"", "invite", "register", "answer", "disconnect"};
        sip->sendSipMsg(QString::fromLatin1(commands[uchar(input.at(0)) % 5]));
    }
    const QList<QByteArray> datagrams = input.mid(1).split('\xff');
    for (const QByteArray &datagram : datagrams) {
        if (datagram.isEmpty())
            continue;
        {
            QMutexLocker lock(&sip->rxMutex);
            sip->rxQueue.append(datagram);
        }
        sip->msgReceiver();
    }

    for (const QByteArray &message : qAsConst(transport->sent))
        if (!wellFramed(message))
            __builtin_trap();
    reset(sip, transport);
    return 0;
}
