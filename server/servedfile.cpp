#include "server/servedfile.h"

#include "integrity/firmwaresignature.h"

Result<> checkServedSignature(const QByteArray &statement, const ServedFile &signature,
                              const QByteArray &keysPem)
{
    if (!signature)
        return signature.failure();
    return FirmwareSignature::verify(statement, *signature, keysPem);
}
