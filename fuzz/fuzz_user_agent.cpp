// Feeds arbitrary datagrams through the user agent's receive path (parse and
// processSip). The first byte picks a user command to run before them, so the
// call states are reached; "\xff\xff" separates datagrams. Replies are queued,
// never sent, and dropped after each input, with the transactions they
// opened.
#include "accountsettings.h"
#include "networkenvironment.h"
#include "sip.h"
#include "siptransactions.h"

#include <QApplication>
#include <QMutexLocker>

#include <cstddef>
#include <cstdint>

static void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_user_agent";
    static char *argv[] = {name, nullptr};
    static QApplication *app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler(quiet);
        return new QApplication(argc, argv);
    }();
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
    static Sip *sip = [] {
        auto *s = new Sip(settings, *network);
        // Replies stay in the queue: nothing leaves the process.
        QObject::disconnect(s, &Sip::msgTransmiterSignal, s, &Sip::msgTransmiterSlot);
        return s;
    }();
    Q_UNUSED(app)

    // No event loop runs here, so no transaction ever times out: start each
    // input without the last one's, or they pile up.
    sip->transactions->clear();
    sip->dialog.callState = CallState::Idle;
    sip->dialog.callDirection = CallDirection::None;
    sip->dialog.callCallId.clear();
    sip->dialog.called = QStringLiteral("200");

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
    QMutexLocker lock(&sip->txMutex);
    sip->txQueue.clear();
    return 0;
}
