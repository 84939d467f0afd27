#pragma once

#include "server/servedfile.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

// The vendor's statement of the newest tool release, "ToolRelease.txt" beside
// Version.txt: UTF-8, one "key=value" line each, LF or CR LF line ends.
//
//   version=1.6
//   security=yes                   (or no: whether it fixes a security flaw)
//   advisory=修复了……的安全漏洞      (one line for the owner)
//   advisory-url=https://…         (optional)
//   installer=nv38k-upgrade-tool-1.6-setup.exe
//   installer-size=14680064
//   installer-sha256=<64 hex digits>
//   expires=2027-03-09T12:00:00Z   (in UTC: after this the statement is stale)
//
// A statement that never went stale could be served again long after a newer
// release: a frozen or replaying server would then hold owners at an old one.
// The vendor renews it before it expires. Keys may come in any order; a key the tool does not know
// is passed over, so that later tools can learn new ones. In builds with signing keys the tool
// reads it only when "ToolRelease.txt.sig" holds a valid signature of it.
struct ToolRelease
{
    QString version;
    bool securityFix = false;
    QString advisory;
    QString advisoryUrl; // empty when none was given
    QString installerName; // a plain file name beside the statement
    qint64 installerSize = 0;
    QByteArray installerSha256; // 32 bytes
    QDateTime expires; // in UTC, to the second
};

namespace ToolReleaseFile {

QString fileName();
QString signatureFileName();
// Where the installer a statement names lives: beside the statement.
QString installerUrl(const ToolRelease &release);

// A statement is a few lines; an installer far less than this.
constexpr qint64 maxBytes = 4 * 1024;
constexpr qint64 maxInstallerBytes = 256 * 1024 * 1024;
constexpr int maxAdvisoryLength = 200;

// What the tool makes of the server's answer: the release, or why there is
// none: Refused, saying why in English for the log, for a statement passed
// over; Absent when the server has no statement at all.
using Answer = Result<ToolRelease>;

// The release a statement's bytes state, or why they state none (never Absent).
Answer parse(const QByteArray &body);
// The release the statement as it was served states: Absent when the server
// has none, Refused when it could not be had.
Answer parseServed(const ServedFile &statement);

// What a build whose tool release keys are `keysPem` makes of `parsed`, what
// parse() read from `statementFile`, given the statement's signature as it
// was served: where there are no keys, withoutKeys(); where nothing is to be
// verified, the same; else refused unless one of the keys signed the
// statement. The window and nv38k-publish check judge alike.
Answer verified(const Answer &parsed, const QByteArray &statementFile, const ServedFile &signature,
                const QByteArray &keysPem);
// What a build without tool release keys takes of a statement no one could
// verify: all but its address, which the tool shows only from the vendor.
Answer withoutKeys(const Answer &parsed);

// How a downloaded installer differs from the one its statement states.
enum class InstallerMismatch { Size, Sha256 };
// Whether an installer of `size` bytes hashing to `sha256` is the one
// `release` states; the statement is what it is trusted for.
std::optional<InstallerMismatch> installerMismatch(const ToolRelease &release, qint64 size,
                                                   const QByteArray &sha256);
// The mismatch, for the log.
QString describe(InstallerMismatch mismatch);

// The file's text for `release`; parse() reads it back as the same values
// when check() finds nothing wrong with it.
QByteArray format(const ToolRelease &release);
// Whether a statement can carry `release`: Refused, naming the key, when not.
Result<> check(const ToolRelease &release);

// Compares two versions, numbers separated by dots, number by number, a
// missing number counting as 0: negative when `a` is older, 0 when equal
// (1.5.0 and 1.5), positive when newer (1.10 against 1.9). Nothing when
// either is not such a version.
std::optional<int> compareVersions(const QString &a, const QString &b);

// Whether the statement of `release` was written after that of `earlier`: a
// newer version, or the same one renewed to expire later.
bool isNewerStatement(const ToolRelease &release, const ToolRelease &earlier);

} // namespace ToolReleaseFile
