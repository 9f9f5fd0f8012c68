#ifndef BOXWATCHER_H
#define BOXWATCHER_H

// Closes every message box that appears in this process and keeps its title
// and text, so a test sees a modal box without blocking on it (the box runs its
// own event loop, in which the watcher's timer still fires).

#include <QObject>
#include <QStringList>
#include <QTimer>

class BoxWatcher : public QObject
{
public:
    explicit BoxWatcher(QObject *parent = nullptr);

    QStringList titles;
    QStringList texts;

private:
    void poll();

    QTimer m_timer;
};

#endif // BOXWATCHER_H
