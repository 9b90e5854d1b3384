// Built only under ThreadSanitizer: two of our own serial queues change one counter with no lock
// between them. The suite expects ThreadSanitizer to report it, so a suppression wide enough to
// hide a race in our code (one naming a library that every queue thread runs through) turns the
// ThreadSanitizer run red.
#include "Platform/SerialQueue.h"

#include <QCoreApplication>

namespace {

int counter = 0;

[[gnu::noinline]] void bump() {
    ++counter;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const auto first = ostrel::SerialQueue::make(QStringLiteral("app.ostrel.race-a"));
    const auto second = ostrel::SerialQueue::make(QStringLiteral("app.ostrel.race-b"));
    for (int i = 0; i < 1000; ++i) {
        first->async(&bump);
        second->async(&bump);
    }
    first->sync([] {});
    second->sync([] {});
    return counter > 0 ? 0 : 1;
}
