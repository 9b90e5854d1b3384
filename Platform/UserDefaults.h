#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

namespace ostrel {

// The user's settings store: one JSON object of typed values in
// $XDG_CONFIG_HOME/Ostrel/<suite>.json. Flags stay booleans and whole numbers stay integral, so a
// reader can tell a mistyped value from a good one. Every change is written through at once.
class UserDefaults {
public:
    // The standard suite, "defaults", in the user's configuration folder.
    UserDefaults();
    // A named suite in a given folder (tests and other suites).
    UserDefaults(const QString& folder, const QString& suite);

    QString path() const { return path_; }
    // The whole store as a dictionary.
    QJsonObject dictionary() const { return values_; }
    QJsonValue value(const QString& key) const { return values_.value(key); }
    bool contains(const QString& key) const { return values_.contains(key); }

    // Each returns false when the file could not be written (the value is kept in memory).
    bool set(const QString& key, const QJsonValue& value);
    bool remove(const QString& key);
    // Sets every entry of `values` and removes `removed`, in one write.
    bool apply(const QJsonObject& values, const QStringList& removed = {});

    static QString defaultFolder();

private:
    void load();
    // Moves the file out of the way under an ".unreadable-" name, saying why in the log.
    void setAside(const QString& why);
    bool save();

    QString path_;
    QJsonObject values_;
    // An unreadable file is set aside rather than overwritten; if that fails we never write.
    bool writable_ = true;
    // The file lags behind the values: a write failed.
    bool unsaved_ = false;
};

} // namespace ostrel
