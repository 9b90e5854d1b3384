#include "Platform/UserDefaults.h"

#include "Platform/AtomicFile.h"
#include "Platform/Date.h"
#include "Platform/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QUuid>

#include <cstdio>

namespace ostrel {

UserDefaults::UserDefaults() : UserDefaults(defaultFolder(), QStringLiteral("defaults")) {}

UserDefaults::UserDefaults(const QString& folder, const QString& suite)
    : path_(QDir(folder).filePath(suite + QStringLiteral(".json"))) {
    load();
}

QString UserDefaults::defaultFolder() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("Ostrel"));
}

void UserDefaults::load() {
    // Settings are a few KB; a FIFO or a device in their place must neither stall the start nor
    // fill memory: such a file is set aside like an unreadable one.
    constexpr qint64 limit = qint64(16) << 20;
    auto read = AtomicFile::readRegular(path_, limit);
    if (const Error* error = std::get_if<Error>(&read)) {
        if (error->code == ENOENT || error->code == ENOTDIR) {
            return; // nothing there yet
        }
        if (error->code != ENODEV && error->code != EFBIG) {
            // Unreadable for a reason that says nothing about its content: keep it and leave it
            // alone.
            qCWarning(lcPlatform) << "settings not readable, keeping them untouched:" << path_
                                  << error->message;
            writable_ = false;
            return;
        }
        setAside(error->message);
        return;
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(std::get<QByteArray>(read), &error);
    if (error.error == QJsonParseError::NoError && doc.isObject()) {
        values_ = doc.object();
        return;
    }
    setAside(QStringLiteral("unreadable"));
}

void UserDefaults::setAside(const QString& why) {
    const QString stamp = Date::now().toDateTime().toString(QStringLiteral("yyyyMMdd'T'HHmmss"));
    const QString base = QFileInfo(path_).dir().filePath(QFileInfo(path_).completeBaseName() +
                                                         QStringLiteral(".unreadable-") + stamp);
    QString aside = base + QStringLiteral(".json");
    // A rename replaces what is at its target: one set aside earlier in the same second stays.
    if (QFileInfo::exists(aside) || QFileInfo(aside).isSymLink()) {
        aside = base + u'-' + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() +
                QStringLiteral(".json");
    }
    // A plain rename: Qt's falls back to copying, which would read a FIFO or a device.
    if (::rename(QFile::encodeName(path_).constData(), QFile::encodeName(aside).constData()) != 0) {
        qCWarning(lcPlatform).noquote()
            << QStringLiteral("settings %1 and could not be set aside; not writing them: %2")
                   .arg(why, path_);
        writable_ = false;
        return;
    }
    qCWarning(lcPlatform).noquote()
        << QStringLiteral("settings %1, set aside as %2").arg(why, aside);
}

bool UserDefaults::save() {
    // Until a write succeeds, every later change writes the whole file again.
    unsaved_ = true;
    if (!writable_) {
        return false;
    }
    if (!AtomicFile::makeFolder(QFileInfo(path_).absolutePath())) {
        return false;
    }
    // A settings file the user keeps elsewhere behind a link stays theirs.
    const auto error =
        AtomicFile::write(path_, QJsonDocument(values_).toJson(QJsonDocument::Indented), 0600,
                          AtomicFile::Links::follow);
    if (error) {
        qCWarning(lcPlatform) << "settings not saved:" << error->domain << error->code;
        return false;
    }
    unsaved_ = false;
    return true;
}

bool UserDefaults::set(const QString& key, const QJsonValue& value) {
    if (values_.value(key) == value && values_.contains(key) && !unsaved_) {
        return true;
    }
    values_.insert(key, value);
    return save();
}

bool UserDefaults::remove(const QString& key) {
    if (!values_.contains(key) && !unsaved_) {
        return true;
    }
    values_.remove(key);
    return save();
}

bool UserDefaults::apply(const QJsonObject& values, const QStringList& removed) {
    QJsonObject next = values_;
    for (auto it = values.begin(); it != values.end(); ++it) {
        next.insert(it.key(), it.value());
    }
    for (const QString& key : removed) {
        next.remove(key);
    }
    if (next == values_ && !unsaved_) {
        return true;
    }
    values_ = next;
    return save();
}

} // namespace ostrel
