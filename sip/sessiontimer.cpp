#include "sessiontimer.h"

#include "sipsessionexpiresheader.h"

#include <QTimer>

namespace {

// delta-seconds of a Session-Expires or Min-SE value; 0 when absent or bad.
int seconds(const QString &text)
{
    bool ok = false;
    const qint64 n = text.trimmed().toLongLong(&ok);
    return ok && n > 0 ? int(qMin<qint64>(n, 24 * 3600 * 7)) : 0;
}

struct Expires
{
    int interval = 0;
    QString refresher;
};

Expires parse(const QString &value)
{
    if (value.trimmed().isEmpty())
        return {};
    SipSessionExpiresHeader header(nullptr, QStringLiteral("Session-Expires"), value);
    return {seconds(header.deltaSeconds), header.refresher.trimmed().toLower()};
}

} // namespace

SessionTimer::Outcome SessionTimer::answerRequest(const QString &sessionExpires, bool peerSupportsTimer, int localMinSe)
{
    Outcome o;
    const Expires asked = parse(sessionExpires);
    o.minSe = qMax(localMinSe, int(minimumInterval));
    if (asked.interval == 0)
        return o; // not asked: no timer
    // Too short: 422 with our minimum, and the UAC (or the proxy that put the
    // header in) asks again. We never lower the interval, so the request's
    // own Min-SE cannot bind us, and never raise it (RFC 4028 9).
    if (asked.interval < o.minSe) {
        o.status = 422;
        return o;
    }
    o.interval = asked.interval;
    // The UAC's choice stands; left open, or from a UAC that cannot refresh,
    // we refresh ourselves rather than count on the far end.
    o.refresher = peerSupportsTimer && asked.refresher == QLatin1String("uac") ? Refresher::Uac : Refresher::Uas;
    o.weRefresh = o.refresher == Refresher::Uas;
    return o;
}

SessionTimer::Outcome SessionTimer::fromAnswer(const QString &sessionExpires)
{
    Outcome o;
    const Expires given = parse(sessionExpires);
    // No Session-Expires in the 2xx: no session expiry (RFC 4028 7.2).
    o.interval = given.interval;
    // Our INVITE left the choice open; a 2xx that names nobody leaves it to
    // us, the UAC (RFC 4028 7.2).
    o.refresher = given.refresher == QLatin1String("uas") ? Refresher::Uas : Refresher::Uac;
    o.weRefresh = o.interval > 0 && o.refresher == Refresher::Uac;
    return o;
}

int SessionTimer::retryInterval(const QString &minSeOf422, int asked)
{
    return qMax(qMax(seconds(minSeOf422), asked), int(minimumInterval));
}

QString SessionTimer::sessionExpiresText(int interval, Refresher refresher)
{
    return QStringLiteral("%1;refresher=%2").arg(interval).arg(refresherName(refresher));
}

QString SessionTimer::refresherName(Refresher refresher)
{
    switch (refresher) {
    case Refresher::Uac: return QStringLiteral("uac");
    case Refresher::Uas: return QStringLiteral("uas");
    }
    return QString();
}

SessionTimer::SessionTimer(QObject *parent) : QObject(parent), m_refresh(new QTimer(this)), m_expiry(new QTimer(this))
{
    m_refresh->setSingleShot(true);
    m_expiry->setSingleShot(true);
    m_refresh->setTimerType(Qt::PreciseTimer);
    m_expiry->setTimerType(Qt::PreciseTimer);
    connect(m_refresh, &QTimer::timeout, this, &SessionTimer::refreshDue);
    connect(m_expiry, &QTimer::timeout, this, &SessionTimer::expired);
}

void SessionTimer::start(int interval, bool weRefresh)
{
    m_interval = interval;
    m_weRefresh = weRefresh;
    restart();
}

void SessionTimer::restart()
{
    stop();
    if (m_interval <= 0)
        return;
    if (m_weRefresh)
        m_refresh->start(int(qMin<qint64>(refreshMs(m_interval, m_secondMs), INT_MAX)));
    m_expiry->start(int(qMin<qint64>(expiryMs(m_interval, m_secondMs), INT_MAX)));
}

qint64 SessionTimer::expiryMs(int interval, int secondMs)
{
    // Either side gives up on a session not refreshed by
    // interval - min(32, interval / 3) (RFC 4028 10); the refresher has sent
    // its refresh at half the interval.
    return qint64(secondMs) * (interval - qMin(32, interval / 3));
}

void SessionTimer::stop()
{
    m_refresh->stop();
    m_expiry->stop();
}

bool SessionTimer::active() const
{
    return m_expiry->isActive();
}
