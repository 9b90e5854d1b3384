// Ostrel's process entry: a shelf panel on every screen, over the capture engine that the shelf
// model runs for the whole life of the process.
#include "Ostrel/Shell/AppDelegate.h"
#include "Ostrel/Shell/SingleInstance.h"
#include "Ostrel/Shell/SupportFolderLock.h"
#include "OstrelCore/Engine/Engine.h"
#include "OstrelCore/Records/Env.h"
#include "OstrelCore/Records/OstrelPaths.h"
#include "OstrelCore/Records/OwnFolder.h"
#include "OstrelCore/Records/Store.h"
#include "Platform/Log.h"
#include "Platform/MallocArenas.h"
#include "Platform/MountWatch.h"
#include "Platform/ProcessEnd.h"
#include "Platform/TerminationSignal.h"
#include "Platform/X11/WindowSystem.h"

#include <QApplication>
#include <QDir>
#include <QScopeGuard>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <utility>

#include <xcb/xcb.h>

using namespace ostrel;

namespace {

// The shelf needs exact window positions and the pointer everywhere, which Wayland gives no
// ordinary client: on a Wayland session run on XWayland, unless the user chose a platform.
// Returns whether the choice was made here (it is then not passed on to programs we start).
bool chooseX11() {
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
        !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        return false;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    return true;
}

// Qt aborts with a screenful when it cannot reach the X server; say it in one line instead.
bool displayReachable() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb")) {
        return true;
    }
    const QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty()) {
        std::fputs("ostrel: no X display to show the shelf on (DISPLAY is not set)\n", stderr);
        return false;
    }
    xcb_connection_t* c = xcb_connect(display.constData(), nullptr);
    const bool ok = xcb_connection_has_error(c) == 0;
    xcb_disconnect(c);
    if (!ok) {
        std::fprintf(stderr, "ostrel: cannot open the X display %s\n", display.constData());
    }
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    MallocArenas::limit();
    // Before any thread starts, so that these signals reach only the signal descriptor.
    TerminationSignal::block();
    const bool choseX11 = chooseX11();
    if (!displayReachable()) {
        return 1;
    }
    QApplication app(argc, argv);
    if (choseX11) {
        qunsetenv("QT_QPA_PLATFORM");
    }
    QApplication::setApplicationName(QStringLiteral("Ostrel"));
    // The menu entry scripts/install writes is ostrel.desktop. On X11 the desktop matches our
    // windows to it by their class ("ostrel", "Ostrel"); this names it where a desktop asks Qt.
    QGuiApplication::setDesktopFileName(QStringLiteral("ostrel"));
    QApplication::setQuitOnLastWindowClosed(false);

    // A second launch on the same display asks the running one to open Settings and ends.
    const QString display = QGuiApplication::platformName() == QLatin1String("xcb")
                                ? qEnvironmentVariable("DISPLAY")
                                : QString();
    SingleInstance instance(SingleInstance::standardFolder(), SingleInstance::displayKey(display));
    switch (instance.claim()) {
    case SingleInstance::Role::second:
        return 0;
    case SingleInstance::Role::failed:
        std::fprintf(stderr, "ostrel: already running, but %s\n", qPrintable(instance.error()));
        return 1;
    case SingleInstance::Role::first:
        if (!instance.error().isEmpty()) {
            std::fprintf(stderr, "ostrel: a second launch is not caught: %s\n",
                         qPrintable(instance.error()));
        }
        break;
    }

    // On another display it ends too: one process keeps the index, or each would write back its
    // own copy over the other's changes. Taken before the index is read.
    const QString support =
        OstrelPaths::resolve(Env::process(), std::nullopt, std::nullopt).supportDir.toLocalFile();
    SupportFolderLock supportLock(support);
    const auto holder = [&supportLock] {
        QString where = supportLock.holder().isEmpty()
                            ? QStringLiteral("another display")
                            : QStringLiteral("display ") + supportLock.holder();
        if (!supportLock.holderHost().isEmpty()) {
            where += QStringLiteral(" of the machine ") + supportLock.holderHost();
        }
        return where;
    };
    switch (supportLock.claim(display)) {
    case SupportFolderLock::Claim::taken: {
        const QString where = holder();
        std::fprintf(stderr,
                     "ostrel: the shelf already runs on %s with the same support folder (%s); "
                     "quit it there first\n",
                     qPrintable(where), qPrintable(support));
        if (supportLock.claimFromElsewhere()) {
            // Whether it still runs there cannot be told from here.
            std::fprintf(stderr, "ostrel: if it no longer runs there, remove %s\n",
                         qPrintable(supportLock.claimPath()));
        }
        return 1;
    }
    case SupportFolderLock::Claim::unguarded:
        // Said once, here: the store goes on without the folder, and its own failures to save
        // follow from this one.
        qCWarning(lcStore).noquote()
            << QStringLiteral("the support folder %1: the shelf runs unguarded against a second "
                              "Ostrel")
                   .arg(supportLock.error());
        break;
    case SupportFolderLock::Claim::held:
        if (!supportLock.writable()) {
            qCWarning(lcStore).noquote()
                << QStringLiteral("the support folder %1: nothing is saved there until it can be "
                                  "written")
                       .arg(supportLock.error());
        }
        break;
    }
    // The folder every writer of the run checks before it writes there, whatever is mounted over
    // its path later: the one the path leads to now, before anything reads there.
    OwnFolder::startRun(support);

    // A folder that could not be used at start may come to be while the shelf runs: the store
    // writes there once this process keeps it, as a start would, and never while another shelf
    // that started meanwhile does. A file system mounted over the folder after the start puts
    // another folder at its path: this process keeps that one too (the store writes nothing
    // there), so that no second shelf starts on it meanwhile.
    // Asked on the engine's queue, one call at a time, and by the mount watch on the main thread:
    // the lock is used by one of them at a time, and let go only once the engine has stopped.
    std::mutex claiming;
    bool saidTaken = false;
    Store::setFolderClaim([&](const QString& root) {
        if (QDir::cleanPath(root) != QDir::cleanPath(support)) {
            return true;
        }
        const std::lock_guard lock(claiming);
        // Held already, unless the path leads to another folder now: its lock is claimed then.
        if (supportLock.claim(display) != SupportFolderLock::Claim::taken) {
            return true; // held, or still none to be had: unguarded as at start
        }
        if (!std::exchange(saidTaken, true)) {
            qCWarning(lcStore).noquote()
                << QStringLiteral("the support folder %1 is kept by the shelf on %2 now: this one "
                                  "saves nothing there")
                       .arg(support, holder());
        }
        return false;
    });
    const auto forgetClaim = qScopeGuard([] { Store::setFolderClaim({}); });
    // Held, the folder is written by this process alone: what another left half written there
    // is a leftover.
    Store::setFolderHeld([&supportLock, &claiming, support](const QString& root) {
        const std::lock_guard lock(claiming);
        return QDir::cleanPath(root) == QDir::cleanPath(support) && supportLock.isHeld();
    });
    const auto forgetHeld = qScopeGuard([] { Store::setFolderHeld({}); });
    // A file system mounted over the folder is claimed as soon as it is there, while the shelf
    // idles too: the store looks at the folder only when it has something to write. The lock of
    // one that has gone is let go at the same change, all but the run's own folder's.
    // One that cannot be locked (read-only) leaves the own folder's lock kept: the next change,
    // its going, takes that back.
    const MountWatch mounts([&, heldAtStart = supportLock.isHeld()] {
        const std::lock_guard lock(claiming);
        if (heldAtStart || supportLock.isHeld()) {
            supportLock.claim(display);
        }
    });

    AppDelegate delegate;
    instance.onReopen = [&delegate] { delegate.openSettings(); };

    std::optional<ProcessEnd> end;
    // Watched from before the launch: a signal that comes while the launch still makes its
    // windows is read by the main thread only after them, but the engine's start, under way
    // meanwhile, ends at its next batch as soon as the signal is there.
    TerminationSignal termination(
        [&end, &delegate](int) {
            if (end) {
                end->run();
            } else {
                delegate.shutdown(false);
            }
            QApplication::quit();
        },
        [] { Engine::haltForQuit(); });
    delegate.launch();
    // However the process ends, the store is written first: the index and the offsets, with a
    // command still held for undo; then the folder is let go. Made after the launch, so that an
    // exit() from elsewhere comes to the farewell before the statics the launch made first are
    // destroyed. An exit() during the launch has none: the unfinished start it leaves has the
    // next start take what this one was yet to.
    end.emplace([&delegate, &supportLock, &claiming](bool late) {
        delegate.shutdown(late);
        const std::lock_guard lock(claiming);
        supportLock.release();
    });

    if (x11::WindowSystem* windows = delegate.windowSystem()) {
        // The X server has gone (Qt's own connection usually ends the process first, through
        // exit(), which runs the same farewell).
        QObject::connect(windows, &x11::WindowSystem::connectionLost, &termination, [&end] {
            end->run();
            QApplication::exit(1);
        });
    }
    const int status = QApplication::exec();
    // Also after "Quit": the index is saved and the engine's thread joined before exit.
    end->run();
    return status;
}
