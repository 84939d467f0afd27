#include "testkit/waituntil.h"

#include <QCoreApplication>
#include <QTimer>

bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.start(timeoutMs);
    while (!done() && deadline.isActive())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}
