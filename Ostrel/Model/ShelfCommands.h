#pragma once

#include <functional>
#include <utility>

namespace ostrel {

// The application-level commands the shelf's menus offer; the application hands in the real ones
// right after creating the model. Each does nothing until then.
struct ShelfCommands {
    std::function<void()> settings = [] {};
    std::function<void()> checkForUpdates = [] {};
    std::function<void()> feedback = [] {};
    std::function<void()> quit = [] {};

    ShelfCommands() = default;
    ShelfCommands(std::function<void()> settings, std::function<void()> checkForUpdates,
                  std::function<void()> feedback, std::function<void()> quit)
        : settings(std::move(settings)), checkForUpdates(std::move(checkForUpdates)),
          feedback(std::move(feedback)), quit(std::move(quit)) {}
};

} // namespace ostrel
