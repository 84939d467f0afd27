#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

struct WindowBox;

// What the two files of a release may hold so that the window reads them as
// meant, judged by the window's own parser and address rules.
namespace ServerFiles {

// Why `value` cannot stand after "=" in a line of Version.txt, or nothing.
std::optional<QString> lineValueProblem(const QString &value);

// Why a model or version would not reach the server as written in the
// firmware address, or nothing.
std::optional<QString> addressProblem(const QString &value);

// What in Version.txt works in the window but is fragile, one finding each.
QStringList fragilities(const QByteArray &body);

// A box as the user sees it: its kind, title and text.
QString describe(const WindowBox &box);

} // namespace ServerFiles
