#include "OstrelCore/Records/Session.h"

#include "OstrelCore/Records/Json.h"
#include "OstrelCore/Records/Text.h"

#include <QLocale>

namespace ostrel {

std::optional<QString> Session::name() const {
    for (const auto* field : {&agentName, &customTitle, &aiTitle, &firstPrompt}) {
        if (!field->has_value()) {
            continue;
        }
        const QString joined = Text::trimBlanks(Text::splitLines(**field).join(u' '));
        if (!joined.isEmpty()) {
            return joined;
        }
    }
    return std::nullopt;
}

QString Session::folder() const {
    if (id == unsortedID) {
        return QStringLiteral("Unsorted");
    }
    if (cwd && !cwd->isEmpty()) {
        const QStringList parts = cwd->split(u'/', Qt::SkipEmptyParts);
        if (!parts.isEmpty()) {
            return parts.last();
        }
        return *cwd; // the root folder itself
    }
    if (!slug) {
        return QStringLiteral("Session");
    }
    const QStringList pieces = slug->split(u'-', Qt::SkipEmptyParts);
    return pieces.isEmpty() ? QStringLiteral("Session") : pieces.last();
}

std::optional<QString> Session::branchLabel() const {
    if (!branch || branch->isEmpty() || *branch == u"HEAD") {
        return std::nullopt;
    }
    return branch;
}

QString Session::startText(Date now, const QTimeZone& zone) const {
    const QDateTime started = startedAt.toDateTime().toTimeZone(zone);
    const QDateTime current = now.toDateTime().toTimeZone(zone);
    const QLocale posix = QLocale::c();
    if (started.date() == current.date()) {
        return posix.toString(started, QStringLiteral("HH:mm"));
    }
    return posix.toString(started, QStringLiteral("ddd HH:mm"));
}

Session::RowDetail Session::rowDetail(Date now, const QTimeZone& zone) const {
    RowDetail detail;
    const auto label = branchLabel();
    if (name()) {
        QString context = folder();
        if (label) {
            context += QStringLiteral(" \u00B7 ") + *label;
        }
        detail.context = context;
    } else if (label) {
        detail.context = label;
    }
    if (detail.context && detail.context->isEmpty()) {
        detail.context.reset();
    }
    detail.time = startText(now, zone);
    return detail;
}

void Session::write(JsonWriter& out) const {
    const auto optional = [&out](QStringView key, const std::optional<QString>& value) {
        if (value) {
            out.key(key);
            out.string(*value);
        }
    };
    out.beginObject();
    optional(u"agentName", agentName);
    optional(u"aiTitle", aiTitle);
    optional(u"branch", branch);
    optional(u"customTitle", customTitle);
    optional(u"cwd", cwd);
    optional(u"firstPrompt", firstPrompt);
    if (firstPromptAt) {
        out.key(u"firstPromptAt");
        out.date(*firstPromptAt);
    }
    out.key(u"id");
    out.string(id);
    out.key(u"lastActive");
    out.date(lastActive);
    optional(u"slug", slug);
    out.key(u"startedAt");
    out.date(startedAt);
    out.endObject();
}

QJsonObject Session::toJson() const {
    return Json::objectOf(*this);
}

std::optional<Session> Session::fromJson(const QJsonValue& value) {
    if (!value.isObject()) {
        return std::nullopt;
    }
    const QJsonObject o = value.toObject();
    const auto id = Json::string(o, QStringLiteral("id"));
    const auto started = Json::date(o, QStringLiteral("startedAt"));
    const auto last = Json::date(o, QStringLiteral("lastActive"));
    if (!id.value || !started.value || !last.value) {
        return std::nullopt;
    }
    Session s;
    s.id = *id.value;
    s.startedAt = *started.value;
    s.lastActive = *last.value;
    bool ok = true;
    const auto read = [&](const char* key, std::optional<QString>& into) {
        const auto f = Json::string(o, QString::fromLatin1(key));
        ok = ok && f.ok;
        into = f.value;
    };
    read("slug", s.slug);
    read("cwd", s.cwd);
    read("branch", s.branch);
    read("agentName", s.agentName);
    read("customTitle", s.customTitle);
    read("aiTitle", s.aiTitle);
    read("firstPrompt", s.firstPrompt);
    const auto firstAt = Json::date(o, QStringLiteral("firstPromptAt"));
    if (!ok || !firstAt.ok) {
        return std::nullopt;
    }
    s.firstPromptAt = firstAt.value;
    return s;
}

} // namespace ostrel
