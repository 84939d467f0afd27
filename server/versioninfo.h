#pragma once

#include <QString>
#include <optional>

class QByteArray;
class QStringList;

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

    // The model line was read, also when the version line then failed.
    bool hasModel() const { return status == Status::Valid || status == Status::BadVersionLine; }
};

VersionInfo parseVersionInfo(const QByteArray &body);

// The note one line of the file adds, or nothing when the parser passes the
// line over.
std::optional<QString> noteOfLine(const QString &line);

// The text of a file that parses to these values, when none holds "=", CR or
// LF; a line end closes every line.
QString formatVersionInfo(const QString &deviceModel, const QString &version,
                          const QStringList &notes);
