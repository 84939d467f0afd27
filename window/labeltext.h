#pragma once

#include <QString>

// What a value label is given for `served`, a value from the server's
// information file. The labels take rich text, so that a vendor may set a
// note in bold; but a server's markup could also name a picture or a style
// sheet, which Qt's text engine loads from any path (on Windows a share on
// another host, which is handed the owner's credentials), or a link. Only
// plain formatting tags without attributes keep their meaning; every other
// tag shows as the text it is. Text that is not rich comes back as it is.
QString valueLabelText(const QString &served);
