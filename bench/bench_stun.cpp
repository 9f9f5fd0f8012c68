// Time of one STUN Binding lookup against a loopback coturn: Sorvanto's StunClient
// in-process, beside coturn's own turnutils_stunclient (whose figure includes its
// process start, the only way to time it from outside).
#include "stunclient.h"
#include "stunserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>

#include <algorithm>
#include <cstdio>

namespace {

void quiet(QtMsgType type, const QMessageLogContext &, const QString &msg)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(msg));
}

double percentile(QVector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[qMin(v.size() - 1, int(p * v.size()))];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quiet);

    StunServer server;
    if (!server.start()) {
        std::fprintf(stderr, "bench_stun: %s\n", qPrintable(server.errorString()));
        return 1;
    }

    StunClient client;
    client.setStunClient(server.url());
    QSignalSpy done(&client, &StunClient::updatedStunSignal);
    QVector<double> ours;
    QElapsedTimer clock;
    for (int i = 0; i < 500; ++i) {
        clock.start();
        client.binding();
        ours.append(clock.nsecsElapsed() / 1000.0);
    }
    if (done.count() != ours.size()) {
        std::fprintf(stderr, "bench_stun: %d of %d lookups failed\n", ours.size() - done.count(), ours.size());
        return 1;
    }

    QVector<double> peer;
    for (int i = 0; i < 50; ++i) {
        QProcess p;
        clock.start();
        p.start(QStringLiteral("turnutils_stunclient"), {"-p", QString::number(server.port()), "127.0.0.1"});
        if (!p.waitForFinished(5000) || !p.readAllStandardOutput().contains("reflexive addr")) {
            std::fprintf(stderr, "bench_stun: turnutils_stunclient failed\n");
            return 1;
        }
        peer.append(clock.nsecsElapsed() / 1000.0);
    }

    std::printf("%-28s %12s %22s %6s\n", "figure", "Sorvanto", "turnutils_stunclient", "unit");
    std::printf("%-28s %12.1f %22.1f %6s\n", "lookup time, median", percentile(ours, 0.5), percentile(peer, 0.5), "us");
    std::printf("%-28s %12.1f %22.1f %6s\n", "lookup time, 95th pct", percentile(ours, 0.95), percentile(peer, 0.95), "us");
    return 0;
}
