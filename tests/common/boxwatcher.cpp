#include "boxwatcher.h"

#include <QApplication>
#include <QMessageBox>

BoxWatcher::BoxWatcher(QObject *parent)
    : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, &BoxWatcher::poll);
    m_timer.start(20);
}

void BoxWatcher::poll()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(w);
        if (!box || !box->isVisible())
            continue;
        titles << box->windowTitle();
        texts << box->text();
        box->done(QMessageBox::Ok);
    }
}
