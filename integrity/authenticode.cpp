#include "integrity/authenticode.h"

namespace Authenticode {
std::optional<QString> installerSignatureProblem(const QString &, const QString &)
{
    return std::nullopt;
}
} // namespace Authenticode
