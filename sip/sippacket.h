#ifndef SIPPACKET_H
#define SIPPACKET_H

// The in-memory SIP message, parsed or built: start-line parts, the headers in
// order (the SDP body travels as a header named "Content"), and the values the
// builder operations formatted. Owns its headers.

#include <QList>
#include <QString>

class SipHeader;
class SipHeaderFactory;
class SipMessageParser;
class SipRequestMethod;
class SipUri;

// Values of SipPacket::packetType.
enum PacketType { PacketUnset = 0, PacketRequest = 1, PacketResponse = 2 };
// Names a packet type for the log.
const char *packetTypeName(int type);

class SipPacket
{
public:
    explicit SipPacket(SipMessageParser *parser);
    SipPacket(SipMessageParser *parser, QString rawText, QString serverIp, QString serverPort);
    ~SipPacket();

    // Lookups compare names case-insensitively; index is 1-based among the
    // headers of that name.
    SipHeader *getHeader(QString name);
    QString getHeaderString(QString name, int index);
    void modifyHeader(QString name, int index, QString value);
    void deleteHeader(QString name, int index);
    // A Via value is split at commas into one header each.
    void addHeader(QString key, QString value);
    void addHeaderKeyValue(QString key, QString value);

    // `transport` as Via writes it: "UDP", "TCP" or "TLS".
    void addVia(QString host, QString port, QString branch, const QString &transport = QStringLiteral("UDP"));
    void addFrom(QString user, QString host, QString port, QString tag);
    void addTo(QString user, QString host, QString port, QString tag);
    void addContact(QString user, QString host, QString port, QString tag,
                    const QString &transport = QStringLiteral("UDP"));
    void addCallId(QString id);
    void addCSeq(QString number, QString method);
    void addCSeq(int number, QString method) { addCSeq(QString::number(number), method); }
    void addMaxForwards(QString count);
    void addMaxForwards(int count) { addMaxForwards(QString::number(count)); }
    void addAllow(QString list);
    void addContentType(QString type);
    void addContentLength(QString length);
    void addContentLength(int length) { addContentLength(QString::number(length)); }

    // SDP lines appended to `content`, each ending in CR LF.
    void addContent(QString line);
    void addContentIp(QString address);
    void addContentPort(QString port, QString payloadTypes);

    // Wire text by packetType: the request or the response form.
    QString toString();

    QString version;
    QString serverIp;
    QString serverPort;
    QString rawText;
    SipMessageParser *parser = nullptr;
    QList<SipHeader *> headers;
    SipHeaderFactory *headerFactory = nullptr;
    int packetType = PacketUnset;
    SipRequestMethod *methods = nullptr;
    SipUri *requestUri = nullptr;
    QString uriSuffix;
    QString method;
    QString statusCode;
    QString reasonPhrase;
    QString via;
    QString from;
    QString to;
    QString callId;
    QString cseq;
    QString contact;
    QString contentType;
    QString allow;
    QString maxForwards;
    QString contentLength;
    QString content;

protected:
    // Each builds the whole wire text in one reserved buffer.
    QString requestText();
    QString responseText();

private:
    SipPacket(const SipPacket &) = delete;
    SipPacket &operator=(const SipPacket &) = delete;
    QString addressValue(const char *withPortTag, const char *withPort, const char *withTag,
                         const char *plain, QString user, QString host, QString port, QString tag);
    int indexOf(const QString &name, int index) const;
    // Headers, Content-Length last, the empty line and the body.
    void writeHeaders(QString &text);
    int headersSize() const;
    void writeRequestLine(QString &text);
    int requestLineSize() const;
    void writeStatusLine(QString &text);
};

#endif // SIPPACKET_H
