#pragma once

namespace FirmwareSignature {

// What a build with signing keys makes of a firmware's signature; a value
// of its own, so that what is shown for it needs no cryptography.
enum class Verdict {
    Valid,
    Unavailable, // the signature could not be fetched
    Malformed, // not a signature at all: empty, or not 64 bytes
    NotVerified, // no trusted key signed this statement
};

} // namespace FirmwareSignature
