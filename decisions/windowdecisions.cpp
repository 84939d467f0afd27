#include "decisions/windowdecisions.h"

#include "device/dfulisting.h"
#include "encoding/gbk.h"
#include "server/firmwareserver.h"
#include "server/logtext.h"
#include "server/versioninfo.h"

namespace Decisions {

DownloadClick downloadClicked(bool hasFirmwareAddress)
{
    DownloadClick click;
    if (!hasFirmwareAddress) {
        click.box = UserTexts::informationFirst();
        return click;
    }
    click.log << quotedForLog(DfuListing::program());
    click.startsListing = true;
    return click;
}

Reaction listingFailed()
{
    return {{QStringLiteral("error")}, UserTexts::toolDamaged()};
}

DeviceCheck deviceCheck(int exitCode, const QByteArray &listing, const QByteArray &standardError,
                        UnreachableKeyboard::Platform platform,
                        const std::function<UnreachableKeyboard::BoundDriver()> &boundDriver)
{
    // dfu-util explains its own failures; a failed listing is not worth a box.
    if (exitCode != 0)
        return {};

    DeviceCheck check;
    const Result<QString> text = decodeGbk(listing);
    const Result<QString> errors = decodeGbk(standardError);
    if (!text || !errors) {
        check.box = UserTexts::noGbkCodec();
        return check;
    }
    check.log << quotedForLog(*text);
    if (!errors->isEmpty())
        check.log << quotedForLog(*errors);

    switch (DfuListing::judge(*text)) {
    case DfuListing::Verdict::NoDevice:
        // Attached, but dfu-util could not open it: a missing driver or
        // permission, not the cable.
        if (const std::optional<QString> error = DfuListing::keyboardOpenError(*errors)) {
            check.box = UserTexts::unreachableKeyboard(platform, *error, boundDriver());
            check.logAfterBox << QStringLiteral("Device Not Accessible ") + *error;
            return check;
        }
        check.box = UserTexts::noDevice();
        check.logAfterBox << QStringLiteral("None Device Found");
        return check;
    case DfuListing::Verdict::ForeignDevice:
        check.box = UserTexts::foreignDevice();
        return check;
    case DfuListing::Verdict::DevicePresent:
        break;
    }
    check.download = true;
    return check;
}

Information information(const ServedFile &file)
{
    Information shown;
    if (!file) {
        shown.box = UserTexts::informationReplyFailed();
        return shown;
    }
    const VersionInfo info = parseVersionInfo(*file);
    if (info.hasModel())
        shown.deviceModel = info.deviceModel;
    shown.box = UserTexts::informationRefused(info.status);
    if (!shown.box)
        shown.release = Release{info.deviceModel, info.version, info.notes,
                                FirmwareServer::firmwareUrl(info.deviceModel, info.version)};
    return shown;
}

Firmware firmware(const DownloadOutcome &outcome)
{
    using Kind = DownloadOutcome::Kind;
    Firmware shown;
    if (outcome.kind != Kind::DownloadFailed)
        shown.log << UserTexts::firmwareSizeLogLabel() + QLatin1Char(' ')
                         + QString::number(outcome.size);
    if (outcome.signature && *outcome.signature)
        shown.log << QStringLiteral("SignatureVerified");
    else if (outcome.signature)
        shown.log << QStringLiteral("SignatureCheckFailed ")
                         + quotedForLog(outcome.signature->failure().reason);
    switch (outcome.kind) {
    case Kind::DownloadFailed:
        shown.box = UserTexts::firmwareDownloadFailed(outcome.failure);
        return shown;
    case Kind::SignatureRefused:
        shown.box = UserTexts::firmwareSignatureFailed(outcome.signature && !*outcome.signature
                                                           ? outcome.signature->failure().kind
                                                           : Failure::Kind::NotVerified);
        return shown;
    case Kind::OpenFailed:
        shown.box = UserTexts::fileOpenFailed();
        break;
    case Kind::WriteFailed:
        shown.box = UserTexts::fileWriteFailed();
        break;
    case Kind::Stored:
        shown.log << QStringLiteral("SaveFileSuccess ") + QString::number(outcome.size);
        shown.box = UserTexts::firmwareStored();
        shown.stored = true;
        break;
    }
    shown.received = true;
    return shown;
}

ToolUpdate toolRelease(const ToolReleaseFile::Answer &answer, const QString &runningVersion,
                       const UpdatePreferences &kept, const QDateTime &now, bool installs)
{
    ToolUpdate update;
    const QString tag = QStringLiteral("ToolRelease:");
    // A server without a statement leaves the log as it always was.
    if (answer.failed(Failure::Kind::Absent))
        return update;
    if (!answer) {
        update.log << tag + QLatin1Char(' ') + answer.failure().reason;
        return update;
    }
    const ToolRelease &release = *answer;
    const QString expires = release.expires.toString(Qt::ISODate);
    if (now >= release.expires) {
        update.log << QStringLiteral("%1 %2, stale since %3").arg(tag, release.version, expires);
        return update;
    }
    // The newest statement accepted before, where one was kept.
    ToolRelease accepted;
    accepted.version = kept.acceptedVersion;
    accepted.expires = kept.acceptedExpires;
    const bool acceptedBefore =
        accepted.expires.isValid()
        && ToolReleaseFile::compareVersions(accepted.version, accepted.version).has_value();
    if (acceptedBefore && ToolReleaseFile::isNewerStatement(accepted, release)) {
        update.log << QStringLiteral("%1 %2 expiring %3, older than %4 expiring %5 accepted before")
                          .arg(tag, release.version, expires, accepted.version,
                               accepted.expires.toUTC().toString(Qt::ISODate));
        return update;
    }
    if (!acceptedBefore || ToolReleaseFile::isNewerStatement(release, accepted)) {
        update.keep = kept;
        update.keep->acceptedVersion = release.version;
        update.keep->acceptedExpires = release.expires;
    }
    const std::optional<int> newer =
        ToolReleaseFile::compareVersions(release.version, runningVersion);
    if (!newer || *newer <= 0) {
        update.log
            << QStringLiteral("%1 %2, not newer than %3").arg(tag, release.version, runningVersion);
        return update;
    }
    // Versions kept by the owner's choices compare as numbers, so 1.6.0 is 1.6.
    const auto isStated = [&release](const QString &version) {
        return ToolReleaseFile::compareVersions(version, release.version) == 0;
    };
    if (isStated(kept.postponedVersion) && now < kept.postponedUntil
        && kept.postponedUntil <= now.addDays(postponementDays)) {
        update.log << QStringLiteral("%1 %2, postponed until %3")
                          .arg(tag, release.version,
                               kept.postponedUntil.toUTC().toString(Qt::ISODate));
        return update;
    }
    if (!release.securityFix && isStated(kept.skippedVersion)) {
        update.log << QStringLiteral("%1 %2, skipped").arg(tag, release.version);
        return update;
    }
    update.log << QStringLiteral("%1 %2 offered%3")
                      .arg(tag, release.version,
                           release.securityFix ? QStringLiteral(", a security fix") : QString());
    update.offer =
        UpdateOffer{release, UserTexts::toolUpdateAvailable(release, runningVersion, installs),
                    release.securityFix ? UpdateChoice::Later : UpdateChoice::Skip};
    return update;
}

UpdatePreferences afterUpdateBox(UpdatePreferences kept, const ToolRelease &offered,
                                 UpdateChoice choice, bool stopChecking, const QDateTime &now)
{
    if (stopChecking)
        kept.checkForUpdates = false;
    switch (choice) {
    case UpdateChoice::InstallNow:
        break;
    case UpdateChoice::Later:
        kept.postponedVersion = offered.version;
        kept.postponedUntil = now.addDays(postponementDays);
        break;
    case UpdateChoice::Skip:
        kept.skippedVersion = offered.version;
        kept.postponedVersion.clear();
        kept.postponedUntil = {};
        break;
    }
    return kept;
}

} // namespace Decisions
