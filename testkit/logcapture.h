#pragma once

#include <QStringList>
#include <QtGlobal>

// Collects what the code under test writes to Qt's message stream while it
// is alive, one entry per message.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    // Messages of one type, as "category: text".
    QStringList lines(QtMsgType type = QtDebugMsg) const;
    void clear();

private:
    QtMessageHandler m_previous;
};
