#include "window/labeltext.h"

#include <QRegularExpression>
#include <QTextDocument>

QString valueLabelText(const QString &served)
{
    if (!Qt::mightBeRichText(served))
        return served;
    // Tags that only format, none of which takes or needs an attribute.
    static const QRegularExpression formatting(
        QStringLiteral("</?(b|strong|i|em|u|s|sub|sup|big|small|p|div|span|center|ul|ol|li"
                       "|h[1-6]|pre|tt|code|nobr)>|<(br|hr) ?/?>"),
        QRegularExpression::CaseInsensitiveOption);
    QString text;
    text.reserve(served.size() + 16);
    for (int at = 0; at < served.size(); ++at) {
        if (served.at(at) != QLatin1Char('<')) {
            text += served.at(at);
            continue;
        }
        const QRegularExpressionMatch tag = formatting.match(
            served, at, QRegularExpression::NormalMatch, QRegularExpression::AnchoredMatchOption);
        if (tag.hasMatch()) {
            text += tag.captured();
            at += tag.capturedLength() - 1;
        } else {
            text += QLatin1String("&lt;");
        }
    }
    // Rich still, whichever tag made it so was kept or not.
    return QStringLiteral("<qt>") + text + QStringLiteral("</qt>");
}
