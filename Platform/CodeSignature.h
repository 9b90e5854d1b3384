#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace ostrel::CodeSignature {

// Where an install folder carries its signature: a manifest of every file (relative path, type,
// owner-executable bit, SHA-256; a link's target hashed as text) with the signer's Ed25519 key,
// and a detached signature over the manifest's exact bytes.
inline constexpr char manifestPath[] = "share/ostrel/CodeSignature.json";
inline constexpr char signaturePath[] = "share/ostrel/CodeSignature.sig";

struct Identity {
    // The signer: the SHA-256 fingerprint of its public key, in lower-case hex.
    std::optional<QString> team;
    bool valid = false;
};

// Who signed the install folder and, when asked, whether every file still matches a manifest
// signed by that key. A folder without a readable manifest has no signer and is not valid.
// Without the check a readable manifest counts as valid.
Identity identity(const QString& folder, bool checkValidity);

// Writes the manifest and its signature for `folder` with a raw 32-byte Ed25519 private key.
// Refuses (with the reason) a folder holding anything a valid copy may not hold: special files,
// setuid or setgid bits, links that are absolute or leave the folder.
std::optional<QString> sign(const QString& folder, QByteArrayView privateKey);

// Lower-case hex SHA-256 of a raw public key.
QString fingerprint(QByteArrayView publicKey);

} // namespace ostrel::CodeSignature
