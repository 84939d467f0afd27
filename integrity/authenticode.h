#pragma once

#include <QString>
#include <optional>

// The Authenticode signature of a downloaded tool installer, judged before it
// runs: the installer must come from whoever signed the program running now.
namespace Authenticode {

enum class Problem {
    OwnSignatureUnreadable, // the running program is signed, but its signer cannot be read
    Unsigned, // the installer carries no signature
    Broken, // its signature is damaged, or does not match its bytes
    OtherSigner, // another certificate signed it
};

// The problem in a few English words, for the log.
QString describe(Problem problem);

// Why the installer at `installerPath` must not run, judged by its Authenticode
// signature, or nothing. Where the program at `runningProgramPath` carries no
// Authenticode signature, none is required; where it does, the installer must
// carry an intact signature whose signer certificate is the very same.
// Elsewhere than on Windows: always nothing.
std::optional<Problem> installerSignatureProblem(const QString &installerPath,
                                                 const QString &runningProgramPath);

} // namespace Authenticode
