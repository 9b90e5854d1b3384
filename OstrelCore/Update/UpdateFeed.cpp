#include "OstrelCore/Update/UpdateFeed.h"

#include "OstrelCore/Records/Hex.h"
#include "OstrelCore/Records/Json.h"
#include "OstrelCore/Records/Text.h"
#include "Platform/Ed25519.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <limits>

namespace ostrel {

namespace {

constexpr qsizetype maxReleases = 20;
constexpr qsizetype maxNotes = 30;

// White space and line breaks at both ends, by the same character sets the records use.
QString trimmed(const QString& text) {
    const QList<uint> scalars = text.toUcs4();
    qsizetype begin = 0;
    qsizetype end = scalars.size();
    auto space = [](uint c) { return Text::isBlank(c) || Text::isNewline(c); };
    while (begin < end && space(scalars[begin])) {
        ++begin;
    }
    while (end > begin && space(scalars[end - 1])) {
        --end;
    }
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(scalars.constData()) + begin,
                             end - begin);
}

// Strict standard base64: no white space, length a multiple of four, nothing skipped.
std::optional<QByteArray> strictBase64(const QString& text) {
    if (text.isEmpty() || text.size() % 4 != 0) {
        return text.isEmpty() ? std::optional<QByteArray>(QByteArray()) : std::nullopt;
    }
    for (QChar c : text) {
        const bool ok = (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') ||
                        (c >= u'0' && c <= u'9') || c == u'+' || c == u'/' || c == u'=';
        if (!ok) {
            return std::nullopt;
        }
    }
    auto decoded =
        QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) {
        return std::nullopt;
    }
    return decoded.decoded;
}

// A JSON value that must be a whole number: the wire record refuses a fraction or a text.
std::optional<std::int64_t> wholeNumber(const QJsonValue& value) {
    if (!value.isDouble()) {
        return std::nullopt;
    }
    const double d = value.toDouble();
    if (std::floor(d) != d || d < -9.2e18 || d > 9.2e18) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(d);
}

struct WireRelease {
    QString version;
    std::int64_t build = 0;
    std::optional<QString> date;
    QStringList notes;
};

// Reads the release entries; a mistyped required key spoils the whole document.
std::optional<QList<WireRelease>> wireReleases(const QJsonValue& value) {
    QList<WireRelease> out;
    if (Json::isAbsent(value)) {
        return out;
    }
    if (!value.isArray()) {
        return std::nullopt;
    }
    for (const QJsonValue& entry : value.toArray()) {
        if (!entry.isObject()) {
            return std::nullopt;
        }
        const QJsonObject o = entry.toObject();
        WireRelease r;
        const QJsonValue version = o.value(u"version");
        const auto build = wholeNumber(o.value(u"build"));
        if (!version.isString() || !build) {
            return std::nullopt;
        }
        r.version = version.toString();
        r.build = *build;
        const QJsonValue date = o.value(u"date");
        if (!Json::isAbsent(date)) {
            if (!date.isString()) {
                return std::nullopt;
            }
            r.date = date.toString();
        }
        const QJsonValue notes = o.value(u"notes");
        if (!Json::isAbsent(notes)) {
            if (!notes.isArray()) {
                return std::nullopt;
            }
            for (const QJsonValue& note : notes.toArray()) {
                if (!note.isString()) {
                    return std::nullopt;
                }
                r.notes.append(note.toString());
            }
        }
        out.append(r);
    }
    return out;
}

QList<UpdateFeed::Release> validReleases(const QList<WireRelease>& wire) {
    QList<UpdateFeed::Release> kept;
    for (const WireRelease& w : wire) {
        UpdateFeed::Release r;
        r.version = trimmed(w.version);
        r.build = w.build;
        for (const QString& note : w.notes) {
            const QString t = trimmed(note);
            if (!t.isEmpty()) {
                r.notes.append(t);
            }
        }
        if (r.version.isEmpty() || r.build < 1 || r.notes.isEmpty()) {
            continue;
        }
        r.notes = r.notes.mid(0, maxNotes);
        if (w.date) {
            const QString d = trimmed(*w.date);
            if (!d.isEmpty()) {
                r.date = d;
            }
        }
        kept.append(r);
    }
    std::stable_sort(kept.begin(), kept.end(),
                     [](const auto& a, const auto& b) { return a.build > b.build; });
    return kept.mid(0, maxReleases);
}

std::optional<std::int64_t> decimal(const QString& part) {
    qsizetype i = 0;
    bool negative = false;
    if (i < part.size() && (part[i] == u'+' || part[i] == u'-')) {
        negative = part[i] == u'-';
        ++i;
    }
    if (i == part.size()) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (; i < part.size(); ++i) {
        const QChar c = part[i];
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        const int digit = c.unicode() - u'0';
        if (value > (std::numeric_limits<std::int64_t>::max() - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    if (negative && value != 0) {
        return std::nullopt;
    }
    return value;
}

} // namespace

const QSet<QString>& UpdateFeed::localHosts() {
    static const QSet<QString> hosts{QStringLiteral("localhost"), QStringLiteral("127.0.0.1"),
                                     QStringLiteral("::1")};
    return hosts;
}

std::optional<QUrl> UpdateFeed::releaseURL(const QString& text, bool allowInsecureLocal) {
    const QString t = trimmed(text);
    if (t.isEmpty()) {
        return std::nullopt;
    }
    const QUrl url(t, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty()) {
        return std::nullopt;
    }
    // QUrl lower-cases the scheme it parses; the rule is case-sensitive, so read it from the text.
    const QString scheme = t.left(t.indexOf(u':'));
    if (scheme == u"https") {
        return url;
    }
    if (!allowInsecureLocal || scheme != u"http") {
        return std::nullopt;
    }
    if (!localHosts().contains(url.host())) {
        return std::nullopt;
    }
    return url;
}

std::optional<QByteArray> UpdateFeed::publicKey(const QString& text) {
    const auto key = strictBase64(trimmed(text));
    if (!key || key->size() != 32) {
        return std::nullopt;
    }
    return key;
}

std::optional<std::array<std::int64_t, 3>> UpdateFeed::versionComponents(const QString& text) {
    const QStringList parts = text.split(u'.', Qt::KeepEmptyParts);
    if (parts.isEmpty() || parts.size() > 3) {
        return std::nullopt;
    }
    std::array<std::int64_t, 3> out{0, 0, 0};
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const auto n = decimal(parts[i]);
        if (!n) {
            return std::nullopt;
        }
        out[static_cast<size_t>(i)] = *n;
    }
    return out;
}

std::optional<UpdateFeed> UpdateFeed::parse(const QByteArray& bytes, bool allowInsecureLocal) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        return std::nullopt;
    }
    const QJsonObject o = doc.object();
    const QJsonValue version = o.value(u"version");
    const auto build = wholeNumber(o.value(u"build"));
    const QJsonValue minimum = o.value(u"minimumSystemVersion");
    const QJsonValue url = o.value(u"url");
    const QJsonValue sha = o.value(u"sha256");
    const QJsonValue signature = o.value(u"signature");
    const QJsonValue changelog = o.value(u"changelogURL");
    if (!version.isString() || !build || !minimum.isString() || !url.isString() ||
        !sha.isString() || !signature.isString() ||
        !(Json::isAbsent(changelog) || changelog.isString())) {
        return std::nullopt;
    }
    const auto wire = wireReleases(o.value(u"releases"));
    if (!wire) {
        return std::nullopt;
    }

    UpdateFeed feed;
    feed.version = version.toString();
    if (feed.version.isEmpty() || *build < 1) {
        return std::nullopt;
    }
    feed.build = *build;
    feed.minimumSystemVersion = minimum.toString();
    if (!versionComponents(feed.minimumSystemVersion)) {
        return std::nullopt;
    }
    const auto download = releaseURL(url.toString(), allowInsecureLocal);
    if (!download) {
        return std::nullopt;
    }
    feed.url = *download;
    feed.sha256 = sha.toString().toLower();
    if (feed.sha256.size() != 64 ||
        !std::all_of(feed.sha256.begin(), feed.sha256.end(), [](QChar c) {
            return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
        })) {
        return std::nullopt;
    }
    const auto sig = strictBase64(signature.toString());
    if (!sig || sig->size() != 64) {
        return std::nullopt;
    }
    feed.signature = *sig;
    if (changelog.isString()) {
        feed.changelogURL = releaseURL(changelog.toString(), allowInsecureLocal);
    }
    feed.releases = validReleases(*wire);
    return feed;
}

bool UpdateFeed::verify(const QByteArray& zip, const QByteArray& key) const {
    if (key.size() != 32) {
        return false;
    }
    if (Hex::sha256(zip) != sha256) {
        return false;
    }
    return Ed25519::verify(key, zip, signature);
}

QList<UpdateFeed::Release> UpdateFeed::notes(std::int64_t since) const {
    QList<Release> out;
    for (const Release& r : releases) {
        if (r.build > since) {
            out.append(r);
        }
    }
    return out;
}

bool UpdateFeed::isSystemOlder(const SystemVersion& system) const {
    const auto minimum = versionComponents(minimumSystemVersion);
    if (!minimum) {
        return true;
    }
    const std::array<std::int64_t, 3> running{system.major, system.minor, system.patch};
    return running < *minimum;
}

UpdateFeed::Offer UpdateFeed::offer(std::int64_t currentBuild, const SystemVersion& system,
                                    std::optional<std::int64_t> skippedBuild, bool manual) const {
    if (currentBuild >= build) {
        return Offer::upToDate;
    }
    if (!versionComponents(minimumSystemVersion) || isSystemOlder(system)) {
        return Offer::needsNewerSystem;
    }
    if (!manual && skippedBuild && *skippedBuild >= build) {
        return Offer::skipped;
    }
    return Offer::available;
}

} // namespace ostrel
