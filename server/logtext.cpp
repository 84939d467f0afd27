#include "server/logtext.h"

#include <QDebug>

QString quotedForLog(const QString &text)
{
    QString line;
    QDebug(&line).nospace() << text;
    return line;
}
