#pragma once

#include "Platform/AutostartEntry.h"

namespace ostrel {

class AppSettings;

// Keeps the launch-at-login preference and the desktop's autostart entry in line. The desktop's
// state wins when they are read together; the user's switch writes or removes the entry.
class LoginItem {
public:
    LoginItem(AppSettings& settings, AutostartEntry entry);

    const AutostartEntry& entry() const { return entry_; }

    // Copies the entry's state into the preference (at launch and before the Settings window
    // shows). The change this makes is saved but not written back to the desktop.
    void sync();
    // The user turned the preference to `on`: writes or removes the entry and says beside the
    // switch what the desktop refused. Does nothing while `sync` is copying the state.
    void changed(bool on);

private:
    AppSettings& settings_;
    AutostartEntry entry_;
    bool syncing_ = false;
};

} // namespace ostrel
