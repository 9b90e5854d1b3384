#include "Platform/UserDefaults.h"

#include "Platform/AtomicFile.h"
#include "Platform/Date.h"
#include "Platform/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QStandardPaths>

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
    QFile file(path_);
    if (!file.exists()) {
        return;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        // Unreadable for a reason that says nothing about its content: keep it and leave it alone.
        qCWarning(lcPlatform) << "settings not readable, keeping them untouched:" << path_
                              << file.errorString();
        writable_ = false;
        return;
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    file.close();
    if (error.error == QJsonParseError::NoError && doc.isObject()) {
        values_ = doc.object();
        return;
    }
    const QString stamp = Date::now().toDateTime().toString(QStringLiteral("yyyyMMdd'T'HHmmss"));
    const QString aside = QFileInfo(path_).dir().filePath(QFileInfo(path_).completeBaseName() +
                                                          QStringLiteral(".unreadable-") + stamp +
                                                          QStringLiteral(".json"));
    if (!QFile::rename(path_, aside)) {
        qCWarning(lcPlatform) << "settings unreadable and could not be set aside; not writing them:"
                              << path_;
        writable_ = false;
        return;
    }
    qCWarning(lcPlatform) << "settings unreadable, set aside as" << aside;
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
    const auto error =
        AtomicFile::write(path_, QJsonDocument(values_).toJson(QJsonDocument::Indented));
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
