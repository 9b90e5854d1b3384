#include <QFont>
#include <QGuiApplication>

#include <gtest/gtest.h>

namespace {

// Every measurement and picture of these suites is made in one font, whatever the machine
// prefers; the shelf's fonts take the application's family the first time they are asked for.
class PinnedFont final : public ::testing::Environment {
public:
    void SetUp() override { QGuiApplication::setFont(QFont(QStringLiteral("DejaVu Sans"))); }
};

const auto* const pinned = ::testing::AddGlobalTestEnvironment(new PinnedFont);

} // namespace
