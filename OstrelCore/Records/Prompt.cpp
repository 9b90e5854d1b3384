#include "OstrelCore/Records/Prompt.h"

#include "OstrelCore/Records/Json.h"
#include "OstrelCore/Records/Text.h"

namespace ostrel {

QString Prompt::summarize(const QString& text) {
    // Only the first real line counts, and of it only what fits: a pasted log of megabytes is
    // neither cut into lines nor counted to its end.
    const QString line = Text::trimBlanks(Text::firstLine(
        text, [](const QString& piece) { return !Text::trimBlanks(piece).isEmpty(); }));
    // A character is at least one UTF-16 unit.
    if (line.size() <= summaryLimit) {
        return line;
    }
    if (Text::leftCharacters(line, summaryLimit).size() == line.size()) {
        return line;
    }
    return Text::leftCharacters(line, summaryLimit - 1) + QStringLiteral("\u2026");
}

void Prompt::write(JsonWriter& out) const {
    out.beginObject();
    out.key(u"at");
    out.date(at);
    out.key(u"id");
    out.string(id);
    out.key(u"sessionID");
    out.string(sessionID);
    out.key(u"text");
    out.string(text);
    out.endObject();
}

QJsonObject Prompt::toJson() const {
    return Json::objectOf(*this);
}

std::optional<Prompt> Prompt::fromJson(const QJsonValue& value) {
    if (!value.isObject()) {
        return std::nullopt;
    }
    const QJsonObject o = value.toObject();
    const auto id = Json::string(o, QStringLiteral("id"));
    const auto session = Json::string(o, QStringLiteral("sessionID"));
    const auto at = Json::date(o, QStringLiteral("at"));
    const auto text = Json::string(o, QStringLiteral("text"));
    if (!id.value || !session.value || !at.value || !text.value) {
        return std::nullopt;
    }
    return Prompt{*id.value, *session.value, *at.value, *text.value};
}

} // namespace ostrel
