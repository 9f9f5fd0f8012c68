#pragma once
// Closes every message box that appears in this process and keeps its text,
// so a test sees a modal box without blocking on it (the box runs its
// own event loop, in which the watcher's timer still fires).
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

class BoxWatcher : public QTimer
{
public:
    explicit BoxWatcher(QObject *parent = nullptr) : QTimer(parent)
    {
        connect(this, &QTimer::timeout, this, [this]() {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
                    texts << box->text();
                    box->done(QMessageBox::Ok);
                }
        });
        start(20);
    }
    QStringList texts;
};
