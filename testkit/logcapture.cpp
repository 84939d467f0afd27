#include "testkit/logcapture.h"

#include <QVector>
#include <utility>

namespace {
QVector<std::pair<QtMsgType, QString>> captured;

void capture(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    captured.append({type, QString::fromUtf8(context.category) + QStringLiteral(": ") + message});
}
} // namespace

LogCapture::LogCapture()
    : m_previous(qInstallMessageHandler(capture))
{
    captured.clear();
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
}

QStringList LogCapture::lines(QtMsgType type) const
{
    QStringList result;
    for (const auto &[messageType, line] : std::as_const(captured))
        if (messageType == type)
            result.append(line);
    return result;
}

void LogCapture::clear()
{
    captured.clear();
}
