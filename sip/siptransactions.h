#ifndef SIPTRANSACTIONS_H
#define SIPTRANSACTIONS_H

// The transaction layer (RFC 3261 17): over UDP our requests go out again
// until they are answered, our final answers to an INVITE until the ACK, and
// a request that comes again gets the answer already sent. Timers run on the
// event loop; each retransmission and each timeout is logged.

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

class QTimer;
class Sip;

class SipTransactions : public QObject
{
    Q_OBJECT

public:
    explicit SipTransactions(Sip *sip);
    ~SipTransactions() override;

    // T1 and T2 in milliseconds (RFC 3261 17.1.1.1: 500 and 4000); tests
    // may shorten them.
    static void setTimers(int t1, int t2);
    static int t1();

    // Client side: sends a request and keeps it until its final answer.
    void request(const QString &text, const QString &branch, const QString &method, const QString &callId);
    enum Match { First, Repeat, Unmatched };
    // Matches a response by top Via branch and CSeq method: the first
    // answer of its kind, a repeated final answer, or nothing of ours.
    Match response(const QString &branch, const QString &method, int code);

    // Server side: remembers the last answer sent to a request.
    void answered(const QString &branch, const QString &method, const QString &text);
    // Sends the remembered answer again; false when the request is new.
    bool repeatAnswer(const QString &branch, const QString &method);
    // A final answer to an INVITE is sent again until its ACK.
    void finalToInvite(const QString &text, const QString &callId, const QString &cseq, bool success);
    void acknowledged(const QString &callId, const QString &cseq);

    // Forgets everything and stops every timer.
    void clear();

signals:
    // A request of ours got no final answer in 64*T1.
    void requestTimedOut(const QString &method, const QString &callId);
    // Our 200 OK to an INVITE got no ACK in 64*T1.
    void ackTimedOut(const QString &callId);

private:
    struct Entry {
        QString key, text, method, callId;
        int interval = 0;
        bool invite = false;
        bool answered = false; // a provisional answer stops an INVITE's repeats
        bool final = false;
        bool success = false;
        QTimer *repeat = nullptr;
        QTimer *deadline = nullptr;
    };
    Entry *start(const QString &key, const QString &text, bool invite);
    void repeatDue(Entry *e);
    void deadlineDue(Entry *e);
    void remove(Entry *e);
    void send(const QString &text, const QString &why);
    bool reliable() const;

    Sip *sip = nullptr;
    QList<Entry *> clients;  // our requests
    QList<Entry *> finals;   // our final answers to INVITEs, until the ACK
    QHash<QString, Entry *> answers; // last answer to a received request
};

#endif // SIPTRANSACTIONS_H
