#pragma once

#include "Platform/BundleInfo.h"
#include "Platform/Desktop.h"

#include <QString>
#include <QUrl>

#include <optional>

namespace ostrel {

// A web link the build was given.
enum class InfoLink { website, changelog };

namespace InfoLinks {

// The build key that holds the link.
QString key(InfoLink link);
// The link when the build holds a non-empty text that parses as an "https" address.
std::optional<QUrl> url(InfoLink link, const BundleInfo& info = BundleInfo::main());
// Opens the link in the default browser; nothing without one.
void open(InfoLink link, Desktop& desktop = *Desktop::system(),
          const BundleInfo& info = BundleInfo::main());

} // namespace InfoLinks

} // namespace ostrel
