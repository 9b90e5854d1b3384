#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

namespace ostrel::test {

// A private D-Bus session bus for one test: its own `dbus-daemon`, stopped when this goes, so
// that stub services never meet the desktop's real ones. `connect` opens a connection of the
// test process to it under a name of its own (a stub and its client are two connections).
class SessionBus {
public:
    // The services the bus starts run in `environment`.
    explicit SessionBus(
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());
    ~SessionBus();
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;

    bool ok() const { return !address_.isEmpty(); }
    const QString& error() const { return error_; }
    // What DBUS_SESSION_BUS_ADDRESS says to a program that should use this bus.
    const QString& address() const { return address_; }
    QDBusConnection connect(const QString& name);

private:
    QProcess daemon_;
    QString address_;
    QString error_;
    QStringList names_;
};

} // namespace ostrel::test
