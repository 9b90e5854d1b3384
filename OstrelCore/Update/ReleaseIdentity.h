#pragma once

#include <QString>

#include <optional>

namespace ostrel {

// Who signed an install folder and whether its signature holds.
struct BundleIdentity {
    std::optional<QString> teamID;
    bool isValid = false;
    friend bool operator==(const BundleIdentity&, const BundleIdentity&) = default;
};

namespace ReleaseIdentity {

enum class Verdict { accept, notSigned, differentTeam };

// A candidate is taken only when its signature holds and its signer is the running copy's.
Verdict verdict(const BundleIdentity& running, const BundleIdentity& candidate);

} // namespace ReleaseIdentity

} // namespace ostrel
