#pragma once

#include <QString>

namespace ostrel {

// The C library's version text ("2.36"): the system version a release may require, since it is
// the floor our binaries run on.
QString libcVersion();

} // namespace ostrel
