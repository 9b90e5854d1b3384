// Workers post to the main thread without pause while the main thread destroys the application
// object, as a thumbnail decode may end while the process exits. Each post must land while the
// application is whole or be refused; one made into the destroyed object crashes this process.
// Exits 0 once every worker has been refused.
#include "Platform/HandOff.h"
#include "Platform/ProcessEnd.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "exit") == 0) {
        // With "exit": a worker calls exit() once the application has stopped taking posts, while
        // the main thread still destroys it. Ends with 4 at once, unless the farewell's hand-off
        // is waited for.
        // Added before the application, it runs after the application's own routines.
        qAddPostRoutine([] { std::thread([] { std::exit(4); }).join(); });
        auto* app = new QCoreApplication(argc, argv);
        const ostrel::ProcessEnd end([](bool) {});
        delete app;
        return 1;
    }
    auto* app = new QCoreApplication(argc, argv);
    std::atomic<bool> go{false};
    std::atomic<int> refused{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < 4; ++i) {
        workers.emplace_back([&] {
            while (!go.load()) {
            }
            while (ostrel::postToMain([] {})) {
            }
            ++refused;
        });
    }
    go = true;
    QThread::msleep(2);
    delete app;
    for (std::thread& worker : workers) {
        worker.join();
    }
    return refused.load() == int(workers.size()) ? 0 : 1;
}
