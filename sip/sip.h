#ifndef SIP_H
#define SIP_H

// The SIP user agent: owns its transport, the parser, the builders, the
// processing of received messages, the transactions and the dialog state;
// queues messages in both directions, takes the user interface's commands and
// reports through its signals.

#include "mediadescription.h"
#include "sipdialog.h"
#include "siptransport.h"

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QMutex>
#include <QObject>
#include <QString>

struct AccountSettings;
class NetworkEnvironment;
class QTimer;
class SipBuilder;
class SipPacket;
class SipParser;
class SipProcessor;
class SipRequest;
class SipTransactions;
class SessionTimer;

// Why a call ended from the other side or the network.
enum class CallEnd {
    Refused,         // a final answer of 300 or above to our INVITE
    RemoteBye,       // the other party hung up
    RemoteCancel,    // the caller gave up before we answered
    NoAnswer,        // our INVITE was never answered
    NotAcknowledged, // our 200 OK was never acknowledged
    NoCommonCodec,   // the answer to our offer named no format we offered
    SessionExpired,  // nobody refreshed the session in time (RFC 4028)
    NotEncrypted     // SRTP is required and the answer carried no key we can use
};
// Names for the log.
const char *callEndName(CallEnd cause);

class Sip : public QObject
{
    Q_OBJECT

public:
    Sip(AccountSettings &settings, const NetworkEnvironment &network, QObject *parent = nullptr);
    ~Sip() override;

    const AccountSettings &settings;
    const NetworkEnvironment &network;
    SipDialog dialog;
    SipTransport *transport = nullptr;
    SipParser *parser = nullptr;
    SipBuilder *builder = nullptr;
    SipProcessor *processor = nullptr;
    SipTransactions *transactions = nullptr;
    // The running call's session timer (RFC 4028).
    SessionTimer *sessionTimer = nullptr;
    int sipPort = 5060;
    bool registered = false;
    // Expiry the registrar granted to the last registration, in seconds (0:
    // none yet), and when to refresh it.
    int grantedExpiry = 0;
    int refreshSeconds() const;
    QList<QByteArray> rxQueue;
    QMutex rxMutex;
    QList<QByteArray> txQueue;
    QMutex txMutex;

    CallState callState() const { return dialog.callState; }
    bool callInProgress() const { return dialog.callInProgress(); }
    void setCallState(CallState state);
    void setRegistered(bool on, int status);

    // Takes the transport kind from the settings (a new transport when it
    // changed), points it at the server and binds the local port.
    void initSession();
    void bindSocket();
    void send(QString text);
    void msgTransmiter();
    void msgReceiver();
    // Sends a request of ours within its client transaction.
    void sendRequest(SipRequest *msg);
    // Sends a reply or an ACK built from `judgedBy`, notes an answer for the
    // request's retransmissions, and deletes msg.
    void sendReply(SipPacket *msg, SipPacket *judgedBy);
    // Starts the keep-alive (RFC 5626 3.5.1) at the `keepAlive` setting.
    void startKeepAlive();

    // Command interface of the user interface: "register", "invite",
    // "answer", "disconnect" (exact match; anything else is ignored). An
    // INVITE goes to dialog.called.
    void sendSipMsg(QString command);
    void registration();
    void callOut();
    void answer();
    void disconnect();

signals:
    void msgTransmiterSignal();
    void msgReceiverSignal();
    // A REGISTER answered with 200 (registered) or refused or unanswered.
    void registrationChanged(bool registered, int status);
    void callStateChanged(CallState state);
    // An INVITE from `number` rings.
    void incomingCall(const QString &number);
    // A 183 to our INVITE, with SDP (early media) or without.
    void sessionProgress(bool earlyMedia);
    // The call is up: our INVITE got its 200 OK, or we answered.
    void callAnswered();
    // We hung up, cancelled or refused the call.
    void callHungUp();
    // The other side or the network ended the call: status is the SIP status
    // (0 for a BYE or CANCEL), reason the status line's text.
    void callEnded(CallEnd cause, int status, const QString &reason);
    // The far end's RTP address from its SDP.
    void mediaAddressChanged(const QString &ip, const QString &port);
    // What the call's offer and answer settled for the media, on every change.
    void mediaChanged(const MediaDescription &media);
    // The far end put the call on hold, or took it off.
    void remoteHoldChanged(bool held);
    // A key the far end sent in an INFO (RFC 4733 events: the media layer).
    void dtmfReceived(QChar digit);
    // A redirect (3xx) sent the call on to `number`.
    void redirected(const QString &number);
    // The transport failed: the reason for the log, its kind for the user.
    void transportError(const QString &reason, SipTransport::Failure failure);

public slots:
    void msgTransmiterSlot();
    void msgReceiverSlot();

private:
    friend class SipTransactions;
    void queue(const QString &text);
    void transmit(SipRequest *msg, const QString &text);
    void remember(SipPacket *msg, SipPacket *request, const QString &text);
    void keepAliveSlot();
    // We refresh the session: UPDATE when the far end allows it, else re-INVITE.
    void refreshSession();
    // Nobody refreshed it: the call ends with a BYE.
    void sessionExpired();
    void messageReceived(const QByteArray &message);
    void updateServer();
    void connectionEstablished();
    void connectionFailed(const QString &reason, SipTransport::Failure failure);
    QTimer *keepAliveTimer = nullptr;
    QString serverHost;
    QString serverAddress;
    int serverPort = 0;
};

Q_DECLARE_METATYPE(CallEnd)
Q_DECLARE_METATYPE(CallState)

#endif // SIP_H
