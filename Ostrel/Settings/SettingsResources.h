#pragma once

namespace ostrel::SettingsResources {

// The Settings window's drawings live in a static library, whose resources must be registered
// by hand before first use.
void ensureLoaded();

} // namespace ostrel::SettingsResources
