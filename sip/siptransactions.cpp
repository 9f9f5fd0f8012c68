#include "siptransactions.h"

#include "sip.h"
#include "sipheader.h"

#include <QDebug>
#include <QTimer>

namespace {
int timerT1 = 500;
int timerT2 = 4000;

void log(const QString &text)
{
    if (SipHeader::logEnabled())
        qDebug().noquote() << text;
}
} // namespace

SipTransactions::SipTransactions(Sip *sip)
    : QObject(sip), sip(sip)
{
}

SipTransactions::~SipTransactions()
{
    clear();
}

void SipTransactions::setTimers(int t1, int t2)
{
    timerT1 = t1;
    timerT2 = t2;
}

int SipTransactions::t1()
{
    return timerT1;
}

SipTransactions::Entry *SipTransactions::start(const QString &key, const QString &text, bool invite)
{
    auto *e = new Entry;
    e->key = key;
    e->text = text;
    e->invite = invite;
    e->interval = timerT1;
    e->repeat = new QTimer(this);
    e->repeat->setSingleShot(true);
    connect(e->repeat, &QTimer::timeout, this, [this, e] { repeatDue(e); });
    e->deadline = new QTimer(this);
    e->deadline->setSingleShot(true);
    connect(e->deadline, &QTimer::timeout, this, [this, e] { deadlineDue(e); });
    e->deadline->start(64 * timerT1);
    return e;
}

bool SipTransactions::reliable() const
{
    return sip && sip->transport && sip->transport->isReliable();
}

void SipTransactions::send(const QString &text, const QString &why)
{
    log(why);
    if (sip)
        sip->queue(text);
}

void SipTransactions::repeatDue(Entry *e)
{
    send(e->text, QStringLiteral("!!! Tx(r): !!!: ") + e->text);
    // An INVITE's interval doubles without bound; every other request's, and
    // a final answer's, stops at T2 (RFC 3261 17.1.1.2, 17.1.2.2, 17.2.1).
    const bool clientInvite = e->invite && clients.contains(e);
    e->interval = clientInvite ? e->interval * 2 : qMin(e->interval * 2, timerT2);
    e->repeat->start(e->interval);
}

void SipTransactions::deadlineDue(Entry *e)
{
    if (!e->final) {
        if (clients.contains(e)) {
            log(QStringLiteral("!!! Transaction timeout: ") + e->method + QStringLiteral(" not answered"));
            const QString method = e->method, callId = e->callId;
            remove(e);
            emit requestTimedOut(method, callId);
            return;
        }
        if (finals.contains(e)) {
            log(QStringLiteral("!!! Transaction timeout: ") + e->method + QStringLiteral(" not acknowledged"));
            const bool success = e->success;
            const QString callId = e->callId;
            remove(e);
            if (success)
                emit ackTimedOut(callId);
            return;
        }
    }
    remove(e);
}

void SipTransactions::remove(Entry *e)
{
    clients.removeOne(e);
    finals.removeOne(e);
    if (answers.value(e->key) == e)
        answers.remove(e->key);
    // The timer that called us may be the one going: let it finish first.
    for (QTimer *timer : {e->repeat, e->deadline}) {
        timer->stop();
        timer->deleteLater();
    }
    delete e;
}

void SipTransactions::clear()
{
    const QList<Entry *> all = clients + finals + answers.values();
    for (Entry *e : all)
        remove(e);
}

void SipTransactions::request(const QString &text, const QString &branch, const QString &method,
                              const QString &callId)
{
    const bool invite = method == QLatin1String("INVITE");
    // A ringing INVITE has no timer of its own: a new call forgets the last
    // one's. A new REGISTER takes over from the one still unanswered, so that
    // a silent registrar sees one registration at a time (RFC 3261 10.2).
    const bool registration = method == QLatin1String("REGISTER");
    for (Entry *old : QList<Entry *>(clients))
        if ((invite && old->invite && old->callId != callId) || (registration && old->method == method))
            remove(old);
    Entry *e = start(branch + ' ' + method, text, invite);
    e->method = method;
    e->callId = callId;
    clients.append(e);
    // A stream delivers or fails by itself: Timer A and E are not started,
    // while Timer B and F still end a request never answered (17.1.1.2, 17.1.2.2).
    if (!reliable())
        e->repeat->start(e->interval);
}

SipTransactions::Match SipTransactions::response(const QString &branch, const QString &method, int code)
{
    const QString key = branch + ' ' + method;
    Entry *e = nullptr;
    for (Entry *c : qAsConst(clients))
        if (c->key == key)
            e = c;
    if (!e || branch.isEmpty())
        return Unmatched;
    if (e->final)
        return Repeat;
    if (code < 200) {
        // Any answer stops an INVITE's repeats and its timeout (17.1.1.2).
        if (e->invite && !e->answered) {
            e->answered = true;
            e->repeat->stop();
            e->deadline->stop();
        }
        return First;
    }
    e->final = true;
    e->repeat->stop();
    // Kept a while so that a repeated final answer is known as one.
    e->deadline->start(64 * timerT1);
    return First;
}

void SipTransactions::answered(const QString &branch, const QString &method, const QString &text)
{
    if (branch.isEmpty())
        return;
    const QString key = branch + ' ' + method;
    Entry *e = answers.value(key);
    if (!e) {
        e = start(key, text, false);
        e->method = method;
        e->final = true;
        answers.insert(key, e);
    }
    e->text = text;
    e->deadline->start(64 * timerT1);
}

bool SipTransactions::repeatAnswer(const QString &branch, const QString &method)
{
    Entry *e = branch.isEmpty() ? nullptr : answers.value(branch + ' ' + method);
    if (!e)
        return false;
    send(e->text, QStringLiteral("!!! Tx(r): !!!: ") + e->text);
    return true;
}

void SipTransactions::finalToInvite(const QString &text, const QString &callId, const QString &cseq, bool success)
{
    acknowledged(callId, cseq);
    Entry *e = start(callId + ' ' + cseq, text, true);
    e->method = QStringLiteral("INVITE");
    e->callId = callId;
    e->success = success;
    finals.append(e);
    // A refusal is not repeated on a stream (Timer G, 17.2.1); the 2xx is, by
    // the core, until its ACK, whatever the transport (13.3.1.4).
    if (success || !reliable())
        e->repeat->start(e->interval);
}

void SipTransactions::acknowledged(const QString &callId, const QString &cseq)
{
    for (Entry *e : QList<Entry *>(finals))
        if (e->key == callId + ' ' + cseq)
            remove(e);
}
