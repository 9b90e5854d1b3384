#include "Platform/LibcVersion.h"

#include <gnu/libc-version.h>

namespace ostrel {

QString libcVersion() {
    return QString::fromLatin1(gnu_get_libc_version());
}

} // namespace ostrel
