#pragma once

#include "SessionBus.h"
#include "Wait.h"
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

// Debian's screen reader, Orca, on the server's display and the bus, with its preferences in a
// folder of the server's home and no synthesizer: what it says, an utterance a line, as it says
// it. Started by `script` (tests/support/OrcaSpeech.py); stopped when this goes.
class Orca {
public:
    Orca(const XServer& x, const SessionBus& bus, const QString& script) {
        QProcessEnvironment env = screenReaderBusEnvironment(x);
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        process_.setProcessEnvironment(env);
        QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] {
            while (process_.canReadLine()) {
                const QString line = QString::fromUtf8(process_.readLine()).trimmed();
                static const QString mark = QStringLiteral("SPEECH OUTPUT: '");
                // A voice other than the default one is named after the closing quote.
                const qsizetype end = line.lastIndexOf(u'\'');
                if (line.startsWith(mark) && end >= mark.size()) {
                    said_.append(line.mid(mark.size(), end - mark.size()));
                }
            }
        });
        process_.start(QStringLiteral("/usr/bin/python3"),
                       {script, x.home().file(QStringLiteral("orca"))});
    }
    ~Orca() {
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    Orca(const Orca&) = delete;
    Orca& operator=(const Orca&) = delete;

    // Everything said so far, in order.
    const QStringList& said() const { return said_; }
    // The first utterance from `from` on that holds `words`, waited for up to `seconds`; -1 when
    // none came.
    int waitFor(const QString& words, qsizetype from, double seconds = 20) {
        qsizetype index = -1;
        waitUntil(
            [&] {
                for (qsizetype i = from; i < said_.size() && index < 0; ++i) {
                    index = said_.at(i).contains(words) ? i : -1;
                }
                return index >= 0 || process_.state() == QProcess::NotRunning;
            },
            seconds);
        return static_cast<int>(index);
    }
    // What it wrote besides its speech: why it did not start, say.
    QString errors() { return QString::fromUtf8(process_.readAllStandardError()); }

private:
    QProcess process_;
    QStringList said_;
};

} // namespace ostrel::test
