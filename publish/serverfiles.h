#pragma once

#include "result/result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

struct WindowBox;

// What the two files of a release may hold so that the window reads them as
// meant, judged by the window's own parser and address rules.
namespace ServerFiles {

// Whether `value` can stand after "=" in a line of Version.txt: Refused,
// saying why, when not.
Result<> checkLineValue(const QString &value);

// Whether a model or version reaches the server as written in the firmware
// address: Refused, saying why, when not.
Result<> checkAddressValue(const QString &value);

// What in Version.txt works in the window but is fragile, one finding each.
QStringList fragilities(const QByteArray &body);

// A box as the user sees it: its kind, title and text.
QString describe(const WindowBox &box);

} // namespace ServerFiles
