#pragma once

#include <QString>

// A string value as the debug stream writes it: quoted, with escapes. Log
// lines hold what came from outside (the server, dfu-util) in this form, so
// that a line break or a control character in it cannot pass for log text.
QString quotedForLog(const QString &text);
