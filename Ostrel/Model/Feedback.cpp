#include "Ostrel/Model/Feedback.h"

#include <QFile>
#include <QRegularExpression>
#include <QUrlQuery>

#include <gnu/libc-version.h>
#include <sys/utsname.h>

namespace ostrel::Feedback {

std::optional<QString> email(const BundleInfo& info) {
    const auto text = info.text(BundleInfo::feedbackKey);
    if (!text || text->isEmpty()) {
        return std::nullopt;
    }
    return text;
}

QString appVersion(const BundleInfo& info) {
    return info.text(BundleInfo::shortVersionKey).value_or(QStringLiteral("?"));
}

qint64 buildNumber(const BundleInfo& info) {
    const auto text = info.text(BundleInfo::versionKey);
    if (!text) {
        return 0;
    }
    static const QRegularExpression whole(QStringLiteral("^[+-]?[0-9]+$"));
    if (!whole.match(*text).hasMatch()) {
        return 0;
    }
    bool ok = false;
    const qint64 value = text->toLongLong(&ok);
    return ok ? value : 0;
}

QString versionText(const BundleInfo& info) {
    return appVersion(info) + QStringLiteral(" (") +
           info.text(BundleInfo::versionKey).value_or(QStringLiteral("?")) + u')';
}

QString systemName(const QString& osReleasePath) {
    QFile file(osReleasePath);
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray& raw : file.readAll().split('\n')) {
            const QString line = QString::fromUtf8(raw);
            if (!line.startsWith(QStringLiteral("PRETTY_NAME="))) {
                continue;
            }
            QString value = line.mid(12);
            if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
                value.back() == value.front()) {
                value = value.mid(1, value.size() - 2);
            }
            value.replace(QStringLiteral("\\\""), QStringLiteral("\""));
            if (!value.isEmpty()) {
                return value;
            }
        }
    }
    utsname names{};
    if (::uname(&names) == 0) {
        return QStringLiteral("Linux ") + QString::fromUtf8(names.release);
    }
    return QStringLiteral("Linux");
}

QString shortVersion(const QString& version) {
    static const QRegularExpression numbers(QStringLiteral("^(\\d+)(?:\\.(\\d+))?(?:\\.(\\d+))?"));
    const auto match = numbers.match(version);
    if (!match.hasMatch()) {
        return version;
    }
    const QString major = match.captured(1);
    const QString minor = match.captured(2).isEmpty() ? QStringLiteral("0") : match.captured(2);
    const QString patch = match.captured(3);
    QString text = major + u'.' + QString::number(minor.toLongLong());
    if (!patch.isEmpty() && patch.toLongLong() != 0) {
        text += u'.' + QString::number(patch.toLongLong());
    }
    return text;
}

QString systemVersion() {
    return shortVersion(QString::fromUtf8(gnu_get_libc_version()));
}

std::optional<QUrl> mailURL(const QString& subject, const QStringList& lines,
                            const BundleInfo& info, const QString& system) {
    const auto address = email(info);
    if (!address) {
        return std::nullopt;
    }
    QStringList body = lines;
    body.append(QStringLiteral("Ostrel ") + versionText(info));
    body.append(system);
    const QString text = QStringLiteral("\n\n\u2014\n") + body.join(u'\n');
    QUrl url;
    url.setScheme(QStringLiteral("mailto"));
    url.setPath(*address);
    QUrlQuery query;
    // Encoded by hand: QUrlQuery would leave "&", "=" and "+" of the texts as they are.
    const auto encode = [](const QString& value) {
        return QString::fromLatin1(QUrl::toPercentEncoding(value));
    };
    query.setQueryItems(
        {{QStringLiteral("subject"), encode(subject)}, {QStringLiteral("body"), encode(text)}});
    url.setQuery(query.query(QUrl::FullyEncoded), QUrl::StrictMode);
    if (!url.isValid()) {
        return std::nullopt;
    }
    return url;
}

void compose(const QString& subject, const QStringList& lines, Desktop& desktop) {
    if (const auto url = mailURL(subject, lines)) {
        desktop.open(*url);
    }
}

} // namespace ostrel::Feedback
