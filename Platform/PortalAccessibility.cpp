#include "Platform/PortalAccessibility.h"

#include "Platform/Log.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QMap>

#include <cmath>

namespace ostrel {

namespace {

const QString appearance = QStringLiteral("org.freedesktop.appearance");
const QString gnomeInterface = QStringLiteral("org.gnome.desktop.interface");
const QString gnomeAccessibility = QStringLiteral("org.gnome.desktop.a11y.interface");
const QString kdeGlobals = QStringLiteral("org.kde.kdeglobals.KDE");

// Some portals wrap a value in one variant more than the signature says.
QVariant unwrapped(QVariant value) {
    for (int depth = 0; depth < 4 && value.metaType() == QMetaType::fromType<QDBusVariant>();
         ++depth) {
        value = value.value<QDBusVariant>().variant();
    }
    return value;
}

std::optional<qint64> whole(const QVariant& value) {
    switch (value.metaType().id()) {
    case QMetaType::UInt:
    case QMetaType::Int:
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::Short:
        return value.toLongLong();
    default:
        return std::nullopt;
    }
}

// KDE's portal hands out its configuration entries as text.
std::optional<double> decimal(const QVariant& value) {
    bool ok = false;
    double d = 0;
    switch (value.metaType().id()) {
    case QMetaType::Double:
        d = value.toDouble();
        ok = true;
        break;
    case QMetaType::QString:
        d = value.toString().trimmed().toDouble(&ok);
        break;
    default:
        if (const auto w = whole(value)) {
            d = static_cast<double>(*w);
            ok = true;
        }
    }
    if (!ok || !std::isfinite(d) || d < 0) {
        return std::nullopt;
    }
    return d;
}

std::optional<bool> flag(const QVariant& value) {
    if (value.metaType().id() != QMetaType::Bool) {
        return std::nullopt;
    }
    return value.toBool();
}

QString slot(const QString& space, const QString& key) {
    return space + u'\n' + key;
}

} // namespace

const QStringList PortalAccessibility::namespaces{appearance, gnomeInterface, gnomeAccessibility,
                                                  kdeGlobals};

std::optional<PortalAccessibility::Reading>
PortalAccessibility::reading(const QString& space, const QString& key, const QVariant& raw) {
    const QVariant value = unwrapped(raw);
    if (space == appearance && (key == u"reduced-motion" || key == u"contrast")) {
        const auto n = whole(value);
        if (!n) {
            return std::nullopt;
        }
        // Values other than 1 are "no preference".
        return Reading{key == u"contrast" ? Switch::increaseContrast : Switch::reduceMotion,
                       *n == 1};
    }
    if (space == gnomeInterface && key == u"enable-animations") {
        const auto on = flag(value);
        return on ? std::optional(Reading{Switch::reduceMotion, !*on}) : std::nullopt;
    }
    if (space == gnomeAccessibility && key == u"high-contrast") {
        const auto on = flag(value);
        return on ? std::optional(Reading{Switch::increaseContrast, *on}) : std::nullopt;
    }
    if (space == kdeGlobals && key == u"AnimationDurationFactor") {
        const auto factor = decimal(value);
        return factor ? std::optional(Reading{Switch::reduceMotion, *factor == 0}) : std::nullopt;
    }
    return std::nullopt;
}

PortalAccessibility::PortalAccessibility(const QDBusConnection& bus, int timeoutMs, QObject* parent)
    : QObject(parent), bus_(bus) {
    if (!bus_.isConnected()) {
        qCInfo(lcPlatform) << "no session bus: reduce motion and increase contrast stay off";
        return;
    }
    // Subscribed before asking, so that no change falls between the answer and the signal.
    bus_.connect(service, path, interface, QStringLiteral("SettingChanged"), this,
                 SLOT(settingChanged(QDBusMessage)));
    QDBusMessage ask =
        QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("ReadAll"));
    ask << namespaces;
    auto* call = new QDBusPendingCallWatcher(bus_.asyncCall(ask, timeoutMs), this);
    connect(call, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* c) { answered(c); });
}

void PortalAccessibility::answered(QDBusPendingCallWatcher* call) {
    call->deleteLater();
    const QDBusMessage reply = call->reply();
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qCInfo(lcPlatform).noquote()
            << "the settings portal did not answer:" << reply.errorMessage()
            << "- reduce motion and increase contrast stay off";
        return;
    }
    if (reply.signature() != u"a{sa{sv}}" || reply.arguments().isEmpty()) {
        qCWarning(lcPlatform).noquote()
            << "the settings portal answered" << reply.signature() << "- ignored";
        return;
    }
    QMap<QString, QVariantMap> all;
    reply.arguments().constFirst().value<QDBusArgument>() >> all;
    for (auto space = all.cbegin(); space != all.cend(); ++space) {
        for (auto entry = space->cbegin(); entry != space->cend(); ++entry) {
            take(space.key(), entry.key(), entry.value());
        }
    }
    update();
    report("desktop settings:");
}

void PortalAccessibility::settingChanged(const QDBusMessage& message) {
    // Taken whole and checked here: a signal of another shape is not ours to read.
    if (message.signature() != u"ssv") {
        return;
    }
    const QVariantList args = message.arguments();
    const bool motion = reduceMotion_;
    const bool contrast = increaseContrast_;
    take(args.at(0).toString(), args.at(1).toString(), args.at(2));
    update();
    if (motion != reduceMotion_ || contrast != increaseContrast_) {
        report("desktop settings changed:");
    }
}

void PortalAccessibility::report(const char* what) const {
    qCInfo(lcPlatform).noquote() << what << "reduce motion" << (reduceMotion_ ? "on" : "off")
                                 << "- increase contrast" << (increaseContrast_ ? "on" : "off");
}

void PortalAccessibility::take(const QString& space, const QString& key, const QVariant& value) {
    if (const auto r = reading(space, key, value)) {
        readings_.insert(slot(space, key), *r);
    } else {
        readings_.remove(slot(space, key));
    }
}

void PortalAccessibility::update() {
    bool motion = false;
    bool contrast = false;
    for (const Reading& r : std::as_const(readings_)) {
        (r.which == Switch::reduceMotion ? motion : contrast) |= r.on;
    }
    if (motion == reduceMotion_ && contrast == increaseContrast_) {
        return;
    }
    reduceMotion_ = motion;
    increaseContrast_ = contrast;
    emit changed();
}

} // namespace ostrel
