#include "Platform/OpenSsl.h"

#include <openssl/crypto.h>

namespace ostrel::OpenSsl {

void init() {
    OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
}

void releaseThread() {
    OPENSSL_thread_stop();
}

} // namespace ostrel::OpenSsl
