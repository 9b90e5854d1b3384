#pragma once

#include <optional>

namespace ostrel {

// How long the drawer's built content outlives a close. Building it is costly, so it is warmed
// when the pointer approaches and released only after a quiet period.
class DrawerLife {
public:
    struct Check {
        enum class Kind { wait, idle, cool };
        Kind kind = Kind::idle;
        double until = 0; // for `wait`

        static Check wait(double until) { return {Kind::wait, until}; }
        static Check idle() { return {}; }
        static Check cool() { return {Kind::cool, 0}; }
        friend bool operator==(const Check&, const Check&) = default;
    };

    explicit DrawerLife(double keep) : keep_(keep) {}

    // True when the content did not exist before (the caller then publishes that it does).
    bool warm(double now, bool open);
    void closed(double now);
    // A `busy` caller still needs the content, so the quiet period starts again.
    Check check(double now, bool busy);

    double keep() const { return keep_; }
    bool built() const { return built_; }
    std::optional<double> coolAt() const { return coolAt_; }

    friend bool operator==(const DrawerLife&, const DrawerLife&) = default;

private:
    double keep_;
    bool built_ = false;
    std::optional<double> coolAt_;
};

} // namespace ostrel
