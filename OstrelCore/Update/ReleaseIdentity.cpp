#include "OstrelCore/Update/ReleaseIdentity.h"

namespace ostrel::ReleaseIdentity {

Verdict verdict(const BundleIdentity& running, const BundleIdentity& candidate) {
    if (!candidate.isValid) {
        return Verdict::notSigned;
    }
    if (running.teamID.has_value() != candidate.teamID.has_value()) {
        return Verdict::differentTeam;
    }
    if (running.teamID && *running.teamID != *candidate.teamID) {
        return Verdict::differentTeam;
    }
    return Verdict::accept;
}

} // namespace ostrel::ReleaseIdentity
