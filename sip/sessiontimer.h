#ifndef SESSIONTIMER_H
#define SESSIONTIMER_H

// Session timers (RFC 4028): what to answer an INVITE's Session-Expires, what
// a 2xx to our INVITE settled, and the two timers of a running session: a
// refresh at half the interval when we refresh, and the end of a session
// nobody refreshed.

#include <QObject>
#include <QString>

class QTimer;

class SessionTimer : public QObject
{
    Q_OBJECT

public:
    enum class Refresher { Uac, Uas };

    static constexpr int minimumInterval = 90;    // RFC 4028 4: Min-SE's floor
    static constexpr int requestedInterval = 1800; // what our INVITE asks (RFC 4028 4)

    // What the negotiation settled. interval 0: no session timer; status 422:
    // refuse the INVITE with Min-SE: minSe.
    struct Outcome
    {
        int status = 200;
        int interval = 0;
        Refresher refresher = Refresher::Uas;
        int minSe = minimumInterval;
        // Our part in the dialog: true when the refresher is us.
        bool weRefresh = false;
    };

    // For an INVITE we received (we are the UAS), from its Session-Expires
    // value (empty when absent) and whether its Supported names "timer".
    static Outcome answerRequest(const QString &sessionExpires, bool peerSupportsTimer,
                                 int localMinSe = minimumInterval);
    // For a 2xx to our INVITE (we are the UAC): its Session-Expires, empty
    // when the far end runs no timer.
    static Outcome fromAnswer(const QString &sessionExpires);
    // The interval to ask for after a 422: its Min-SE, never below ours.
    static int retryInterval(const QString &minSeOf422, int asked);

    // "90;refresher=uas"
    static QString sessionExpiresText(int interval, Refresher refresher);
    static QString sessionExpiresText(const Outcome &outcome) { return sessionExpiresText(outcome.interval, outcome.refresher); }
    static QString refresherName(Refresher refresher);
    // The 2xx carries "Require: timer" when the UAC is to refresh (RFC 4028 9).
    static bool requireTimer(const Outcome &outcome) { return outcome.interval > 0 && outcome.refresher == Refresher::Uac; }

    // When the refresher refreshes, and when a session not refreshed ends,
    // in milliseconds after the last refresh.
    static qint64 refreshMs(int interval, int secondMs = 1000) { return qint64(secondMs) * interval / 2; }
    static qint64 expiryMs(int interval, int secondMs = 1000);

    explicit SessionTimer(QObject *parent = nullptr);

    // Milliseconds in one second of the intervals; tests make it small.
    void setSecondMs(int ms) { m_secondMs = ms; }
    // Runs a session of `interval` seconds from now; restart() after every
    // refresh, sent or received.
    void start(int interval, bool weRefresh);
    void start(const Outcome &outcome) { start(outcome.interval, outcome.weRefresh); }
    void restart();
    void stop();
    bool active() const;
    int interval() const { return m_interval; }
    bool weRefresh() const { return m_weRefresh; }

signals:
    void refreshDue();
    void expired();

private:
    QTimer *m_refresh;
    QTimer *m_expiry;
    int m_secondMs = 1000;
    int m_interval = 0;
    bool m_weRefresh = false;
};

#endif // SESSIONTIMER_H
