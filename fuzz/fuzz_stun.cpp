// Feeds arbitrary datagrams to the STUN response decoder against a fixed
// transaction ID (the seeds carry it, so most inputs get past the ID check).
#include "stunclient.h"

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>

static void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_stun";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static StunClient *client = [] {
        qInstallMessageHandler(quiet);
        auto *c = new StunClient;
        c->transactionId = QByteArray::fromHex("0102030405060708090a0b0c");
        return c;
    }();

    client->processResponse(QByteArray(reinterpret_cast<const char *>(data), int(size)));
    return 0;
}
