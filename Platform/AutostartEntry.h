#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace ostrel {

// The desktop's record of programs started at login: a Desktop Entry file in the user's
// autostart folder. The entry counts as on only when it is a regular file that parses, is not
// hidden and starts this binary; whatever else lies at its place is left to the user and reads
// as off.
class AutostartEntry {
public:
    // `path` is the entry file, `binary` the program it must start.
    AutostartEntry(QString path, QString binary);

    // $XDG_CONFIG_HOME/autostart/ostrel.desktop, over the running binary.
    static AutostartEntry standard();
    static QString standardPath();

    const QString& path() const { return path_; }
    const QString& binary() const { return binary_; }

    bool enabled() const;
    // Each returns the reason in lower-case words when the desktop's folder refused the change.
    std::optional<QString> enable() const;
    std::optional<QString> disable() const;

    // The entry's text for `binary`.
    static QByteArray contents(const QString& binary);
    // One argument quoted for an Exec line as the Desktop Entry rules read it: double quotes
    // where a reserved character occurs, backslashes before the four that need them, and every
    // "%" doubled so that none reads as a field code. The string-value escapes of the file
    // (backslash, newline) are applied on top.
    static QString execValue(const QStringList& arguments);
    // The arguments of an Exec value as written in the file; none when the quoting is broken.
    static std::optional<QStringList> parseExec(const QString& value);

private:
    QString path_;
    QString binary_;
};

} // namespace ostrel
