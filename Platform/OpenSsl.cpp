#include "Platform/OpenSsl.h"

#include <openssl/crypto.h>

namespace ostrel::OpenSsl {

void init() {
    OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
}

void releaseThread() {
    OPENSSL_thread_stop();
}

namespace {

// Also before main, in every program that links this file (every one with a serial queue does):
// a main rewritten without its init() call must not bring the exit-time double free back. Only the
// first initialisation decides whether OpenSSL registers its exit handler, and libcrypto's own
// constructors make none.
[[maybe_unused]] const bool initialisedBeforeMain = (init(), true);

} // namespace

} // namespace ostrel::OpenSsl
