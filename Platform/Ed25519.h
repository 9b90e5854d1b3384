#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace ostrel::Ed25519 {

// A key pair as raw bytes: 32-byte private seed and 32-byte public key.
struct KeyPair {
    QByteArray privateKey;
    QByteArray publicKey;
};

// Whether `signature` (64 bytes) signs `message` under the raw 32-byte public key. Any malformed
// key or signature is simply false.
bool verify(QByteArrayView publicKey, QByteArrayView message, QByteArrayView signature);

// The 64-byte signature of `message` with a raw 32-byte private key; nothing for a bad key.
std::optional<QByteArray> sign(QByteArrayView privateKey, QByteArrayView message);

// The public half of a raw private key; nothing for a bad key.
std::optional<QByteArray> publicKeyOf(QByteArrayView privateKey);

// A fresh key pair from the system's random source.
KeyPair generate();

} // namespace ostrel::Ed25519
