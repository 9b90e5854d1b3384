#pragma once

#include "SessionBus.h"
#include "XServer.h"

#include <QDBusMessage>
#include <QDBusVariant>
#include <QProcess>

namespace ostrel::test {

// The environment of a session bus whose services a screen reader starts: the accessibility
// registry and the settings service keep to the test's home, and to memory.
inline QProcessEnvironment screenReaderBusEnvironment(const XServer& x) {
    QProcessEnvironment env = x.environment();
    env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
    return env;
}

// Turns the desktop's accessibility on, as a screen reader does; the bus starts the registry for
// it. Empty when it did, else why it did not.
inline QString enableAccessibility(SessionBus& bus) {
    QDBusConnection reader = bus.connect(QStringLiteral("reader"));
    QDBusMessage enable = QDBusMessage::createMethodCall(
        QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"));
    enable << QStringLiteral("org.a11y.Status") << QStringLiteral("IsEnabled")
           << QVariant::fromValue(QDBusVariant(true));
    const QDBusMessage enabled = reader.call(enable, QDBus::Block, 10000);
    return enabled.type() == QDBusMessage::ReplyMessage ? QString() : enabled.errorMessage();
}

// What a reader script (Python with pyatspi) did, run on the server's display and the bus.
struct ReaderRun {
    bool finished = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

inline ReaderRun runScreenReader(const XServer& x, const SessionBus& bus, const QString& script,
                                 const QStringList& arguments = {}) {
    QProcess client;
    QProcessEnvironment env = x.environment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
    client.setProcessEnvironment(env);
    client.start(QStringLiteral("/usr/bin/python3"), QStringList{script} + arguments);
    ReaderRun run;
    run.finished = client.waitForFinished(40000);
    if (!run.finished) {
        client.kill();
        client.waitForFinished(5000);
    }
    run.exitCode = client.exitCode();
    run.out = client.readAllStandardOutput();
    run.err = client.readAllStandardError();
    return run;
}

} // namespace ostrel::test
