#include "Platform/Ed25519.h"

#include <openssl/evp.h>

#include <memory>

namespace ostrel::Ed25519 {

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

constexpr qsizetype keySize = 32;
constexpr qsizetype signatureSize = 64;

const unsigned char* bytes(QByteArrayView view) {
    return reinterpret_cast<const unsigned char*>(view.data());
}

Key privateKeyFrom(QByteArrayView raw) {
    if (raw.size() != keySize) {
        return Key(nullptr, EVP_PKEY_free);
    }
    return Key(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, bytes(raw),
                                            static_cast<size_t>(raw.size())),
               EVP_PKEY_free);
}

std::optional<QByteArray> rawPublic(EVP_PKEY* key) {
    QByteArray out(keySize, '\0');
    size_t length = static_cast<size_t>(out.size());
    if (EVP_PKEY_get_raw_public_key(key, reinterpret_cast<unsigned char*>(out.data()), &length) !=
            1 ||
        length != static_cast<size_t>(keySize)) {
        return std::nullopt;
    }
    return out;
}

} // namespace

bool verify(QByteArrayView publicKey, QByteArrayView message, QByteArrayView signature) {
    if (publicKey.size() != keySize || signature.size() != signatureSize) {
        return false;
    }
    Key key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, bytes(publicKey),
                                        static_cast<size_t>(publicKey.size())),
            EVP_PKEY_free);
    if (!key) {
        return false;
    }
    DigestContext context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context ||
        EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1) {
        return false;
    }
    return EVP_DigestVerify(context.get(), bytes(signature), static_cast<size_t>(signature.size()),
                            bytes(message), static_cast<size_t>(message.size())) == 1;
}

std::optional<QByteArray> sign(QByteArrayView privateKey, QByteArrayView message) {
    Key key = privateKeyFrom(privateKey);
    if (!key) {
        return std::nullopt;
    }
    DigestContext context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1) {
        return std::nullopt;
    }
    QByteArray out(signatureSize, '\0');
    size_t length = static_cast<size_t>(out.size());
    if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(out.data()), &length,
                       bytes(message), static_cast<size_t>(message.size())) != 1 ||
        length != static_cast<size_t>(signatureSize)) {
        return std::nullopt;
    }
    return out;
}

std::optional<QByteArray> publicKeyOf(QByteArrayView privateKey) {
    Key key = privateKeyFrom(privateKey);
    return key ? rawPublic(key.get()) : std::nullopt;
}

KeyPair generate() {
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(
        EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr), EVP_PKEY_CTX_free);
    EVP_PKEY* raw = nullptr;
    if (!context || EVP_PKEY_keygen_init(context.get()) != 1 ||
        EVP_PKEY_keygen(context.get(), &raw) != 1) {
        return {};
    }
    Key key(raw, EVP_PKEY_free);
    QByteArray seed(keySize, '\0');
    size_t length = static_cast<size_t>(seed.size());
    if (EVP_PKEY_get_raw_private_key(key.get(), reinterpret_cast<unsigned char*>(seed.data()),
                                     &length) != 1) {
        return {};
    }
    return KeyPair{seed, rawPublic(key.get()).value_or(QByteArray())};
}

} // namespace ostrel::Ed25519
