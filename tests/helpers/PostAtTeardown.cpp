// Workers post to the main thread without pause while the main thread destroys the application
// object, as a thumbnail decode may end while the process exits. Each post must land while the
// application is whole or be refused; one made into the destroyed object crashes this process.
// Exits 0 once every worker has been refused.
#include "Platform/HandOff.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
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
