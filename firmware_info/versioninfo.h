#pragma once

#include <QString>

class QByteArray;

// What the server's "Version.txt" says: GBK text with CR LF line ends, a
// "[Device]=model" first line, a "[Version]=version" second line and any
// number of "[Desc]=note" lines.
struct VersionInfo
{
    enum class Status {
        Valid,
        BadDeviceLine, // the first line is not a "[Device]" line
        BadVersionLine, // the second line is missing or not a "[Version]" line
        NoGbkCodec, // this Qt build cannot decode GBK
    };

    Status status = Status::BadDeviceLine;
    QString deviceModel; // set from BadVersionLine on
    QString version; // set when Valid
    QString notes; // the "[Desc]" values joined with CR LF; set when Valid
};

VersionInfo parseVersionInfo(const QByteArray &body);
