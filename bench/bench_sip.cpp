// Parse and serialise back four realistic datagrams (REGISTER, INVITE with SDP,
// 200 OK with SDP, 401 with a Digest challenge), with the log off and with a
// log file written line by line, beside libosip2 on the same datagrams.

#include "sipparser.h"
#include "siprequest.h"
#include "sipresponse.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTextStream>

#include <osipparser2/osip_parser.h>

#include <cstdio>
#include <vector>

namespace {

const char *const corpus[] = {
    "REGISTER sip:10.0.0.5:5060 SIP/2.0\r\n"
    "Via: SIP/2.0/UDP 192.168.0.10:5070;rport;branch=z9hG4bKq2w3e4r5t6y7u8i9o0pasdfghjklzxcvb\r\n"
    "From: <sip:100@10.0.0.5>;tag=h7g4Esbg\r\n"
    "To: <sip:100@10.0.0.5>\r\n"
    "Call-ID: a84b4c76e66710a84b4c76e66710pc33\r\n"
    "Contact: <sip:100@192.168.0.10:5070;transport=udp>\r\n"
    "CSeq: 1 REGISTER\r\n"
    "Max-Forwards: 70\r\n"
    "Expires: 3600\r\n"
    "User-Agent: Sorvanto\r\n"
    "Allow: ACK, BYE, CANCEL, INFO, INVITE, OPTIONS, REFER, REGISTER, UPDATE\r\n"
    "Content-Length: 0\r\n"
    "\r\n",

    "INVITE sip:100@192.168.0.10:5070 SIP/2.0\r\n"
    "Via: SIP/2.0/UDP 10.0.0.5:5060;branch=z9hG4bK776asdhds;rport\r\n"
    "Via: SIP/2.0/UDP 10.0.0.7:5060;branch=z9hG4bK1a2b3c;received=10.0.0.7\r\n"
    "Record-Route: <sip:10.0.0.5;lr>\r\n"
    "Max-Forwards: 69\r\n"
    "From: \"Bob\" <sip:200@10.0.0.5>;tag=1928301774\r\n"
    "To: <sip:100@10.0.0.5>\r\n"
    "Call-ID: 3848276298220188511@10.0.0.7\r\n"
    "CSeq: 102 INVITE\r\n"
    "Contact: <sip:200@10.0.0.7:5060>\r\n"
    "Allow: INVITE, ACK, CANCEL, OPTIONS, BYE, REFER, NOTIFY\r\n"
    "Session-Expires: 1800;refresher=uac\r\n"
    "Content-Type: application/sdp\r\n"
    "Content-Length: 166\r\n"
    "\r\n"
    "v=0\r\n"
    "o=- 3873887852 3873887852 IN IP4 10.0.0.7\r\n"
    "s=-\r\n"
    "c=IN IP4 10.0.0.7\r\n"
    "t=0 0\r\n"
    "m=audio 40000 RTP/AVP 8 0 101\r\n"
    "a=rtpmap:8 PCMA/8000\r\n"
    "a=rtpmap:0 PCMU/8000\r\n"
    "a=sendrecv\r\n",

    "SIP/2.0 200 OK\r\n"
    "Via: SIP/2.0/UDP 192.168.0.10:5070;rport=5070;branch=z9hG4bKw8e7r6t5y4;received=192.168.0.10\r\n"
    "Record-Route: <sip:10.0.0.5;lr>\r\n"
    "From: <sip:100@10.0.0.5>;tag=h7g4Esbg\r\n"
    "To: <sip:200@10.0.0.5>;tag=as3f5c1d2e\r\n"
    "Call-ID: ghjk7y6t5r4e3w2q1ghjk7y6t5r4e3w2\r\n"
    "CSeq: 2 INVITE\r\n"
    "Contact: <sip:200@10.0.0.7:5060>\r\n"
    "Content-Type: application/sdp\r\n"
    "Content-Length: 132\r\n"
    "\r\n"
    "v=0\r\n"
    "o=- 1 1 IN IP4 10.0.0.7\r\n"
    "s=-\r\n"
    "c=IN IP4 10.0.0.7\r\n"
    "t=0 0\r\n"
    "m=audio 40002 RTP/AVP 8\r\n"
    "a=rtpmap:8 PCMA/8000\r\n"
    "a=ptime:20\r\n"
    "a=sendrecv\r\n",

    "SIP/2.0 401 Unauthorized\r\n"
    "Via: SIP/2.0/UDP 192.168.0.10:5070;rport=5070;branch=z9hG4bKq2w3e4r5t6y7u8;received=192.168.0.10\r\n"
    "From: <sip:100@10.0.0.5>;tag=h7g4Esbg\r\n"
    "To: <sip:100@10.0.0.5>;tag=as0c2c6bd4\r\n"
    "Call-ID: a84b4c76e66710a84b4c76e66710pc33\r\n"
    "CSeq: 1 REGISTER\r\n"
    "Server: Asterisk PBX 18.10.0\r\n"
    "Allow: INVITE, ACK, CANCEL, OPTIONS, BYE, REFER, SUBSCRIBE, NOTIFY, INFO, PUBLISH, MESSAGE\r\n"
    "WWW-Authenticate: Digest algorithm=MD5, realm=\"asterisk\", nonce=\"5f1d2c3b\", qop=\"auth\", opaque=\"4e2d\"\r\n"
    "Content-Length: 0\r\n"
    "\r\n",
};
const int corpusSize = int(sizeof corpus / sizeof corpus[0]);

// Serialises what it receives, as the user agent's log and reply paths do, and
// frees it.
class BenchParser : public SipParser
{
public:
    BenchParser() : SipParser(nullptr) {}
    void processSip(SipPacket *message) override
    {
        wireChars += message->packetType == PacketRequest ? static_cast<SipRequest *>(message)->toString().size()
                                              : static_cast<SipResponse *>(message)->toString().size();
        ++delivered;
        delete message;
    }
    qint64 wireChars = 0;
    int delivered = 0;
};

QFile *logFile = nullptr;

// The same line the application writes: time stamp, level, category, text;
// flushed at once.
void fileHandler(QtMsgType, const QMessageLogContext &context, const QString &msg)
{
    QTextStream out(logFile);
    out << QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss.zzz ") << "DBG "
        << (context.category ? context.category : "default") << ": " << msg << "\n";
    out.flush();
}

void quietHandler(QtMsgType, const QMessageLogContext &, const QString &) {}

struct Figure
{
    double perSecond;
    double nsPerMessage;
};

template <typename Fn>
Figure measure(int rounds, Fn fn)
{
    QElapsedTimer timer;
    timer.start();
    for (int r = 0; r < rounds; ++r)
        fn();
    const qint64 ns = timer.nsecsElapsed();
    const double messages = double(rounds) * corpusSize;
    return {messages * 1e9 / double(ns), double(ns) / messages};
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The transport hands the parser text; decoding is part of the work.
    std::vector<QByteArray> datagrams;
    for (const char *text : corpus)
        datagrams.emplace_back(text);

    BenchParser parser;
    auto sorvantoRound = [&]() {
        for (const QByteArray &d : datagrams)
            parser.parse(QString::fromUtf8(d), "10.0.0.5", "5060");
    };

    parser_init();
    int osipFailures = 0;
    auto osipRound = [&]() {
        for (const QByteArray &d : datagrams) {
            osip_message_t *msg = nullptr;
            osip_message_init(&msg);
            if (osip_message_parse(msg, d.constData(), size_t(d.size())) != 0)
                ++osipFailures;
            char *out = nullptr;
            size_t len = 0;
            if (osip_message_to_str(msg, &out, &len) == 0)
                osip_free(out);
            osip_message_free(msg);
        }
    };

    qInstallMessageHandler(quietHandler);
    QLoggingCategory::setFilterRules("default.debug=false");
    // warm-up, and a check that both sides read every datagram
    sorvantoRound();
    osipRound();
    if (parser.delivered != corpusSize || osipFailures)
        std::fprintf(stderr, "warning: delivered %d of %d, libosip2 failures %d\n", parser.delivered,
                     corpusSize, osipFailures);

    const int rounds = argc > 1 ? atoi(argv[1]) : 20000;
    if (argc > 2 && qstrcmp(argv[2], "sorvanto") == 0) { // for a profiler
        measure(rounds, sorvantoRound);
        return 0;
    }

    const Figure off = measure(rounds, sorvantoRound);
    const Figure osip = measure(rounds, osipRound);

    QTemporaryDir dir;
    QFile file(dir.filePath("log.txt"));
    file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
    logFile = &file;
    QLoggingCategory::setFilterRules("default.debug=true");
    qInstallMessageHandler(fileHandler);
    const Figure on = measure(qMax(1, rounds / 20), sorvantoRound);
    qInstallMessageHandler(nullptr);
    const qint64 logBytes = file.size();
    file.close();

    std::printf("%-36s %14s %14s  %s\n", "figure", "Sorvanto", "libosip2", "unit");
    std::printf("%-36s %14.0f %14.0f  %s\n", "parse+serialise, log off", off.perSecond, osip.perSecond, "messages/s");
    std::printf("%-36s %14.0f %14.0f  %s\n", "parse+serialise, log off", off.nsPerMessage, osip.nsPerMessage, "ns/message");
    std::printf("%-36s %14.0f %14.0f  %s\n", "parse+serialise, log file on", on.perSecond, osip.perSecond, "messages/s");
    std::printf("%-36s %14.0f %14.0f  %s\n", "parse+serialise, log file on", on.nsPerMessage, osip.nsPerMessage, "ns/message");
    std::printf("%-36s %14lld %14s  %s\n", "log written per message", logBytes / (qMax(1, rounds / 20) * corpusSize),
                "-", "bytes");
    return 0;
}
