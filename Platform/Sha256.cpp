#include "Platform/Sha256.h"

#include <openssl/evp.h>

namespace ostrel {

struct Sha256::Context {
    EVP_MD_CTX* md = nullptr;
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {
    context_->md = EVP_MD_CTX_new();
    EVP_DigestInit_ex(context_->md, EVP_sha256(), nullptr);
}

Sha256::~Sha256() {
    EVP_MD_CTX_free(context_->md);
}

void Sha256::update(QByteArrayView bytes) {
    if (!bytes.isEmpty()) {
        EVP_DigestUpdate(context_->md, bytes.data(), static_cast<size_t>(bytes.size()));
    }
}

QByteArray Sha256::finish() {
    QByteArray out(EVP_MAX_MD_SIZE, '\0');
    unsigned int length = 0;
    EVP_DigestFinal_ex(context_->md, reinterpret_cast<unsigned char*>(out.data()), &length);
    out.truncate(static_cast<qsizetype>(length));
    return out;
}

QByteArray Sha256::digest(QByteArrayView bytes) {
    Sha256 hasher;
    hasher.update(bytes);
    return hasher.finish();
}

} // namespace ostrel
