#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

class QDBusPendingCallWatcher;

namespace ostrel {

// The desktop's reduce-motion and increase-contrast switches, read through the settings portal
// and followed while they change. Each desktop says them its own way: the portal's appearance
// keys, GNOME's animation and high-contrast keys, KDE's animation speed factor (0 is no
// animation); any one that asks for a switch turns it on. Until the portal answers, and without
// a portal, both are off. The portal is asked asynchronously with a timeout: a slow or silent
// one never holds up the main thread. Main thread only.
class PortalAccessibility : public QObject {
    Q_OBJECT
public:
    static inline const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
    static inline const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
    static inline const QString interface = QStringLiteral("org.freedesktop.portal.Settings");
    // The namespaces that hold the switches.
    static const QStringList namespaces;

    enum class Switch { reduceMotion, increaseContrast };
    struct Reading {
        Switch which = Switch::reduceMotion;
        bool on = false;
        friend bool operator==(const Reading&, const Reading&) = default;
    };
    // What one setting says about a switch; none for a setting that says nothing about either,
    // or a value of a type its desktop never sends (as if it were not set).
    static std::optional<Reading> reading(const QString& space, const QString& key,
                                          const QVariant& value);

    PortalAccessibility(const QDBusConnection& bus, int timeoutMs = 5000,
                        QObject* parent = nullptr);

    bool reduceMotion() const { return reduceMotion_; }
    bool increaseContrast() const { return increaseContrast_; }

signals:
    // A switch turned on or off.
    void changed();

private slots:
    void settingChanged(const QDBusMessage& message);

private:
    void answered(QDBusPendingCallWatcher* call);
    void take(const QString& space, const QString& key, const QVariant& value);
    void update();
    void report(const char* what) const;

    QDBusConnection bus_;
    // By namespace and key, each setting's last word on a switch.
    QHash<QString, Reading> readings_;
    bool reduceMotion_ = false;
    bool increaseContrast_ = false;
};

} // namespace ostrel
