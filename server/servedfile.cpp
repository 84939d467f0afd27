#include "server/servedfile.h"

QString whyNoFile(const ServedFile &file)
{
    if (const auto *absent = std::get_if<FileAbsent>(&file))
        return absent->why;
    if (const auto *failed = std::get_if<FileFailed>(&file))
        return failed->why;
    return {};
}

Result<> checkServedSignature(const QByteArray &statement, const ServedFile &signature,
                              const QByteArray &keysPem)
{
    if (const auto *bytes = std::get_if<QByteArray>(&signature))
        return FirmwareSignature::verify(statement, *bytes, keysPem);
    return Failure{std::holds_alternative<FileAbsent>(signature) ? Failure::Kind::Absent
                                                                 : Failure::Kind::Failed,
                   whyNoFile(signature)};
}
