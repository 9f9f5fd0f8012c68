// Feeds arbitrary datagrams to the RTP session's receive path. One session
// lives across inputs, so the codec choice and the receive buffer carry over
// as they do in a call; the same bytes also go through the send framing.
#include "rtp.h"

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

static void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_rtp";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static Rtp *rtp = [] {
        qInstallMessageHandler(quiet);
        return new Rtp(nullptr);
    }();

    // An exact-size heap copy, so reading one byte past the datagram is caught.
    std::vector<unsigned char> datagram(data, data + size);
    rtp->msgReceiver(datagram.empty() ? nullptr : datagram.data(), int(size));
    if (rtp->rxPcm.size() > Rtp::rxPcmLimit)
        __builtin_trap();

    // Without a main window nothing is sent; the framing and encoding still run.
    rtp->txPcm.append(reinterpret_cast<const char *>(data), int(size));
    rtp->msgTransmiter();
    if (rtp->txPcm.size() >= Rtp::frameBytes)
        __builtin_trap();
    return 0;
}
