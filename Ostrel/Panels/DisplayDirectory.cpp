#include "Ostrel/Panels/DisplayDirectory.h"

#include <QCryptographicHash>
#include <QGuiApplication>
#include <QScreen>
#include <QUuid>

namespace ostrel {

std::optional<EdidInfo> EdidInfo::parse(const QByteArray& edid) {
    static const QByteArray header("\x00\xff\xff\xff\xff\xff\xff\x00", 8);
    if (edid.size() < 128 || !edid.startsWith(header)) {
        return std::nullopt;
    }
    const auto byte = [&](int i) { return static_cast<quint8>(edid[i]); };
    EdidInfo info;
    const quint16 id = static_cast<quint16>((byte(8) << 8) | byte(9));
    for (const int shift : {10, 5, 0}) {
        info.manufacturer.append(QChar(static_cast<char16_t>('A' - 1 + ((id >> shift) & 0x1f))));
    }
    info.product = static_cast<quint16>(byte(10) | (byte(11) << 8));
    info.serial = static_cast<quint32>(byte(12)) | (static_cast<quint32>(byte(13)) << 8) |
                  (static_cast<quint32>(byte(14)) << 16) | (static_cast<quint32>(byte(15)) << 24);
    for (int d = 54; d <= 108; d += 18) {
        if (byte(d) == 0 && byte(d + 1) == 0 && byte(d + 3) == 0xfc) {
            QString name = QString::fromLatin1(edid.mid(d + 5, 13));
            const qsizetype end = name.indexOf(QLatin1Char('\n'));
            info.model = (end >= 0 ? name.left(end) : name).trimmed();
        }
    }
    return info;
}

void DisplayDirectory::reload() {
    monitors_ = windows_ ? windows_->monitors() : QList<x11::Monitor>();
}

const x11::Monitor* DisplayDirectory::monitor(const QScreen* screen) const {
    if (!screen) {
        return nullptr;
    }
    for (const x11::Monitor& m : monitors_) {
        if (m.name == screen->name()) {
            return &m;
        }
    }
    return nullptr;
}

quint32 DisplayDirectory::hashName(const QString& name) {
    // FNV-1a: stable across runs and builds, unlike qHash.
    quint32 h = 2166136261u;
    for (const char c : name.toUtf8()) {
        h ^= static_cast<quint8>(c);
        h *= 16777619u;
    }
    return h == 0 ? 1 : h;
}

std::optional<quint32> DisplayDirectory::display(const QScreen* screen) const {
    if (!screen) {
        return std::nullopt;
    }
    if (const x11::Monitor* m = monitor(screen); m && m->output) {
        return *m->output;
    }
    return hashName(screen->name());
}

QScreen* DisplayDirectory::screen(quint32 id) const {
    for (QScreen* s : QGuiApplication::screens()) {
        if (display(s) == id) {
            return s;
        }
    }
    return nullptr;
}

QString DisplayDirectory::uuidText(const QScreen* screen) const {
    if (!screen) {
        return {};
    }
    static const QUuid space(QStringLiteral("{6f1f5a52-7d0e-4f7e-9a55-0e9e4f3c2b71}"));
    QByteArray key = "name:" + screen->name().toUtf8();
    if (const x11::Monitor* m = monitor(screen)) {
        if (const auto edid = EdidInfo::parse(m->edid)) {
            key = "edid:" + edid->manufacturer.toLatin1() + ':' +
                  QByteArray::number(edid->product) + ':' + QByteArray::number(edid->serial);
        }
    }
    return QUuid::createUuidV5(space, key).toString(QUuid::WithoutBraces).toUpper();
}

QString DisplayDirectory::name(const QScreen* screen) const {
    if (const x11::Monitor* m = monitor(screen)) {
        if (const auto edid = EdidInfo::parse(m->edid); edid && !edid->model.isEmpty()) {
            return edid->model;
        }
    }
    return screen ? screen->name() : QString();
}

std::optional<PixelSize> DisplayDirectory::nativeResolution(const QScreen* screen) const {
    if (const x11::Monitor* m = monitor(screen)) {
        if (const auto size = m->preferredMode ? m->preferredMode : m->currentMode) {
            return PixelSize{size->width(), size->height()};
        }
    }
    if (!screen) {
        return std::nullopt;
    }
    const QSize px = screen->geometry().size() * screen->devicePixelRatio();
    return PixelSize{px.width(), px.height()};
}

} // namespace ostrel
