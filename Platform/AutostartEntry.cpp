#include "Platform/AutostartEntry.h"

#include "Platform/AtomicFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {

namespace {

const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");

// The string-value escapes of a Desktop Entry file, which apply before the Exec quoting does.
QString escapeValue(const QString& text) {
    QString out;
    for (const QChar c : text) {
        if (c == QLatin1Char('\\')) {
            out += QStringLiteral("\\\\");
        } else if (c == QLatin1Char('\n')) {
            out += QStringLiteral("\\n");
        } else if (c == QLatin1Char('\t')) {
            out += QStringLiteral("\\t");
        } else if (c == QLatin1Char('\r')) {
            out += QStringLiteral("\\r");
        } else {
            out += c;
        }
    }
    return out;
}

QString unescapeValue(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\\') || i + 1 == text.size()) {
            out += c;
            continue;
        }
        const QChar next = text.at(++i);
        switch (next.unicode()) {
        case 's':
            out += QLatin1Char(' ');
            break;
        case 'n':
            out += QLatin1Char('\n');
            break;
        case 't':
            out += QLatin1Char('\t');
            break;
        case 'r':
            out += QLatin1Char('\r');
            break;
        case '\\':
            out += QLatin1Char('\\');
            break;
        default:
            out += c;
            out += next;
        }
    }
    return out;
}

QString quoteArgument(const QString& argument) {
    QString text = argument;
    text.replace(QLatin1Char('%'), QStringLiteral("%%"));
    const bool needsQuotes = text.isEmpty() || std::any_of(text.begin(), text.end(), [](QChar c) {
                                 return reserved.contains(c);
                             });
    if (!needsQuotes) {
        return text;
    }
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\')) {
            out += QLatin1Char('\\');
        }
        out += c;
    }
    out += QLatin1Char('"');
    return out;
}

// The keys of the [Desktop Entry] group; none when the file is not a Desktop Entry file.
std::optional<QHash<QString, QString>> readGroup(const QByteArray& data) {
    QHash<QString, QString> keys;
    bool inGroup = false;
    bool sawGroup = false;
    for (const QByteArray& raw : data.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == QStringLiteral("[Desktop Entry]");
            sawGroup = sawGroup || inGroup;
            continue;
        }
        if (!sawGroup) {
            return std::nullopt; // the first group must be the entry's own
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0) {
            return std::nullopt;
        }
        if (inGroup) {
            keys.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
        }
    }
    if (!sawGroup) {
        return std::nullopt;
    }
    return keys;
}

QString reason(int err) {
    QString text = QString::fromLocal8Bit(std::strerror(err));
    if (text.size() > 1 && text.at(0).isUpper() && text.at(1).isLower()) {
        text[0] = text.at(0).toLower();
    }
    return text;
}

} // namespace

AutostartEntry::AutostartEntry(QString path, QString binary)
    : path_(std::move(path)), binary_(std::move(binary)) {}

QString AutostartEntry::standardPath() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QFileInfo(config).isAbsolute()) {
        config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    }
    return config + QStringLiteral("/autostart/ostrel.desktop");
}

AutostartEntry AutostartEntry::standard() {
    return AutostartEntry(standardPath(), QCoreApplication::applicationFilePath());
}

QString AutostartEntry::execValue(const QStringList& arguments) {
    QStringList quoted;
    for (const QString& argument : arguments) {
        quoted.append(quoteArgument(argument));
    }
    return escapeValue(quoted.join(QLatin1Char(' ')));
}

std::optional<QStringList> AutostartEntry::parseExec(const QString& value) {
    const QString text = unescapeValue(value);
    QStringList arguments;
    QString current;
    bool inArgument = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (inArgument) {
                arguments.append(current);
                current.clear();
                inArgument = false;
            }
            continue;
        }
        if (c == QLatin1Char('"')) {
            inArgument = true;
            for (++i;; ++i) {
                if (i >= text.size()) {
                    return std::nullopt;
                }
                QChar q = text.at(i);
                if (q == QLatin1Char('"')) {
                    break;
                }
                if (q == QLatin1Char('\\') && i + 1 < text.size()) {
                    q = text.at(++i);
                } else if (q == QLatin1Char('%')) {
                    if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('%')) {
                        current += q;
                    }
                    ++i;
                    continue;
                }
                current += q;
            }
        } else if (c == QLatin1Char('%')) {
            // A field code stands for no text of ours: alone it makes no argument.
            if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('%')) {
                current += QLatin1Char('%');
                inArgument = true;
            }
            ++i;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inArgument) {
        arguments.append(current);
    }
    return arguments;
}

QByteArray AutostartEntry::contents(const QString& binary) {
    QString text = QStringLiteral("[Desktop Entry]\n"
                                  "Type=Application\n"
                                  "Name=Ostrel\n"
                                  "Comment=What Claude Code made, on a shelf at the screen's edge\n"
                                  "Exec=%1\n"
                                  "Terminal=false\n"
                                  "X-GNOME-Autostart-enabled=true\n")
                       .arg(execValue({binary}));
    return text.toUtf8();
}

bool AutostartEntry::enabled() const {
    struct stat st {};
    if (::lstat(QFile::encodeName(path_).constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    QFile file(path_);
    if (st.st_size > 64 * 1024 || !file.open(QIODevice::ReadOnly)) {
        return false;
    }
    const auto keys = readGroup(file.readAll());
    if (!keys) {
        return false;
    }
    const auto isTrue = [&](const QString& key) {
        return keys->value(key).compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0;
    };
    if (isTrue(QStringLiteral("Hidden")) ||
        keys->value(QStringLiteral("X-GNOME-Autostart-enabled"))
                .compare(QStringLiteral("false"), Qt::CaseInsensitive) == 0) {
        return false;
    }
    const auto arguments = parseExec(keys->value(QStringLiteral("Exec")));
    if (!arguments || arguments->isEmpty()) {
        return false;
    }
    const QString program = arguments->first();
    if (program == binary_) {
        return true;
    }
    const QString canonical = QFileInfo(program).canonicalFilePath();
    return !canonical.isEmpty() && canonical == QFileInfo(binary_).canonicalFilePath();
}

std::optional<QString> AutostartEntry::enable() const {
    const QByteArray native = QFile::encodeName(path_);
    struct stat st {};
    if (::lstat(native.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            return QStringLiteral("a folder is in the way at %1").arg(path_);
        }
        // The file is replaced whole by a rename; a link is taken away first, so that whatever
        // it points at is never written.
        if (S_ISLNK(st.st_mode) && ::unlink(native.constData()) != 0) {
            return reason(errno);
        }
    }
    const QString folder = QFileInfo(path_).absolutePath();
    if (!QFileInfo::exists(folder) && !AtomicFile::makeFolder(folder, 0755)) {
        return QStringLiteral("the folder %1 could not be made").arg(folder);
    }
    if (const auto error =
            AtomicFile::write(path_, contents(binary_), 0644, AtomicFile::Links::follow)) {
        return Error::describe(*error);
    }
    return std::nullopt;
}

std::optional<QString> AutostartEntry::disable() const {
    // Only our own entry goes; a file of the user's at this name already reads as off.
    if (!enabled()) {
        return std::nullopt;
    }
    if (::unlink(QFile::encodeName(path_).constData()) != 0 && errno != ENOENT) {
        return reason(errno);
    }
    return std::nullopt;
}

} // namespace ostrel
