#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>
#include <optional>

namespace ostrel {

// Streamed SHA-256 through OpenSSL, so large files are hashed without being held in memory.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(QByteArrayView bytes);
    // The 32-byte digest; the hasher is spent afterwards.
    QByteArray finish();

    static QByteArray digest(QByteArrayView bytes);

private:
    struct Context;
    std::unique_ptr<Context> context_;
};

} // namespace ostrel
