// The records of the index read field by field: a record with a required field missing, of the
// wrong type or naming no case reads as none.
#include "OstrelCore/Records/RecordReading.h"

#include <QUrl>

namespace ostrel::recordReading {

namespace {

// Whether a URL text is "file://" and an absolute path of plain characters only: no percent
// signs, no query or fragment, no empty segment. Parsing such a text strictly gives the same URL
// as setting its path, which costs a fraction of the general parse; the store's own copies all
// have URLs like that.
bool isPlainFileUrl(const QString& text) {
    constexpr QLatin1StringView prefix("file:///");
    if (!text.startsWith(prefix)) {
        return false;
    }
    char16_t previous = u'/';
    for (qsizetype i = prefix.size(); i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        const bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                           (c >= u'0' && c <= u'9') || c == u'-' || c == u'.' || c == u'_' ||
                           c == u'~' || (c == u'/' && previous != u'/');
        if (!plain) {
            return false;
        }
        previous = c;
    }
    return true;
}

// An absolute URL in its strict form.
void urlField(JsonReader& r, Slot<QUrl>& slot) {
    field(r, slot, Kind::string, [&r](Slot<QUrl>& s) {
        const auto text = r.string();
        if (!text) {
            return;
        }
        if (isPlainFileUrl(*text)) {
            QUrl url;
            url.setScheme(QStringLiteral("file"));
            url.setPath(text->mid(7));
            s.set(std::move(url));
            return;
        }
        QUrl url(*text, QUrl::StrictMode);
        url.isValid() && !url.isRelative() ? s.set(std::move(url)) : s.wrong();
    });
}

std::optional<ShelfItemKind> kindOf(const QString& raw) {
    for (const auto kind : allShelfItemKinds) {
        if (rawValue(kind) == raw) {
            return kind;
        }
    }
    return std::nullopt;
}

// The sources of an item: an array of known source names, nothing else.
void sourcesField(JsonReader& r, Slot<Sources>& slot) {
    if (r.next() != Kind::array) {
        r.skip();
        slot.wrong();
        return;
    }
    r.beginArray();
    Sources sources;
    bool good = true;
    while (r.element()) {
        if (r.next() != Kind::string) {
            good = false;
            r.skip();
            continue;
        }
        const auto text = r.string();
        const auto source = text ? sourceFromRaw(*text) : std::nullopt;
        if (source) {
            sources.insert(*source);
        } else {
            good = false;
        }
    }
    good ? slot.set(std::move(sources)) : slot.wrong();
}

} // namespace

std::optional<ShelfItem> readItem(JsonReader& r) {
    if (!openRecord(r)) {
        return std::nullopt;
    }
    Slot<QString> id, kind, title, sessionID, sourcePath, promptID, captureID;
    Slot<Date> createdAt, seenAt;
    Slot<qint64> width, height;
    Slot<QUrl> fileURL, remoteURL;
    Slot<Sources> sources;
    sources.wrong(); // required
    JsonReader::Name name;
    while (r.member(name)) {
        if (name == "id") {
            stringField(r, id);
        } else if (name == "fileURL") {
            urlField(r, fileURL);
        } else if (name == "createdAt") {
            dateField(r, createdAt);
        } else if (name == "kind") {
            stringField(r, kind);
        } else if (name == "title") {
            stringField(r, title);
        } else if (name == "sessionID") {
            stringField(r, sessionID);
        } else if (name == "sourceKinds") {
            sourcesField(r, sources);
        } else if (name == "sourcePath") {
            stringField(r, sourcePath);
        } else if (name == "seenAt") {
            dateField(r, seenAt);
        } else if (name == "width") {
            integerField(r, width);
        } else if (name == "height") {
            integerField(r, height);
        } else if (name == "promptID") {
            stringField(r, promptID);
        } else if (name == "captureID") {
            stringField(r, captureID);
        } else if (name == "remoteURL") {
            urlField(r, remoteURL);
        } else {
            r.skip();
        }
    }
    if (r.failed() || !id.value || !kind.value || !title.value || !sessionID.value ||
        !createdAt.value || !sources.value || fileURL.bad || remoteURL.bad || sourcePath.bad ||
        promptID.bad || seenAt.bad || width.bad || height.bad || captureID.bad) {
        return std::nullopt;
    }
    const auto itemKind = kindOf(*kind.value);
    if (!itemKind) {
        return std::nullopt;
    }
    ShelfItem item;
    item.id = std::move(*id.value);
    item.kind = *itemKind;
    item.fileURL = std::move(fileURL.value);
    item.remoteURL = std::move(remoteURL.value);
    item.sourcePath = std::move(sourcePath.value);
    item.title = std::move(*title.value);
    item.sessionID = std::move(*sessionID.value);
    item.promptID = std::move(promptID.value);
    item.sourceKinds = std::move(*sources.value);
    item.createdAt = *createdAt.value;
    item.seenAt = seenAt.value;
    item.width = width.value;
    item.height = height.value;
    item.captureID = std::move(captureID.value);
    return item;
}

std::optional<HiddenRecord> readHiddenRecord(JsonReader& r) {
    if (!openRecord(r)) {
        return std::nullopt;
    }
    std::optional<ShelfItem> item;
    Slot<Date> hiddenAt;
    JsonReader::Name name;
    while (r.member(name)) {
        if (name == "item") {
            item = readItem(r);
        } else if (name == "hiddenAt") {
            dateField(r, hiddenAt);
        } else {
            r.skip();
        }
    }
    if (r.failed() || !item || !hiddenAt.value) {
        return std::nullopt;
    }
    return HiddenRecord{std::move(*item), *hiddenAt.value};
}

std::optional<Session> readSession(JsonReader& r) {
    if (!openRecord(r)) {
        return std::nullopt;
    }
    Slot<QString> id, slug, cwd, branch, agentName, customTitle, aiTitle, firstPrompt;
    Slot<Date> startedAt, lastActive, firstPromptAt;
    JsonReader::Name name;
    while (r.member(name)) {
        if (name == "id") {
            stringField(r, id);
        } else if (name == "startedAt") {
            dateField(r, startedAt);
        } else if (name == "lastActive") {
            dateField(r, lastActive);
        } else if (name == "slug") {
            stringField(r, slug);
        } else if (name == "cwd") {
            stringField(r, cwd);
        } else if (name == "branch") {
            stringField(r, branch);
        } else if (name == "agentName") {
            stringField(r, agentName);
        } else if (name == "customTitle") {
            stringField(r, customTitle);
        } else if (name == "aiTitle") {
            stringField(r, aiTitle);
        } else if (name == "firstPrompt") {
            stringField(r, firstPrompt);
        } else if (name == "firstPromptAt") {
            dateField(r, firstPromptAt);
        } else {
            r.skip();
        }
    }
    if (r.failed() || !id.value || !startedAt.value || !lastActive.value || slug.bad || cwd.bad ||
        branch.bad || agentName.bad || customTitle.bad || aiTitle.bad || firstPrompt.bad ||
        firstPromptAt.bad) {
        return std::nullopt;
    }
    Session s;
    s.id = std::move(*id.value);
    s.slug = std::move(slug.value);
    s.cwd = std::move(cwd.value);
    s.branch = std::move(branch.value);
    s.startedAt = *startedAt.value;
    s.lastActive = *lastActive.value;
    s.agentName = std::move(agentName.value);
    s.customTitle = std::move(customTitle.value);
    s.aiTitle = std::move(aiTitle.value);
    s.firstPrompt = std::move(firstPrompt.value);
    s.firstPromptAt = firstPromptAt.value;
    return s;
}

std::optional<Prompt> readPrompt(JsonReader& r) {
    if (!openRecord(r)) {
        return std::nullopt;
    }
    Slot<QString> id, sessionID, text;
    Slot<Date> at;
    JsonReader::Name name;
    while (r.member(name)) {
        if (name == "id") {
            stringField(r, id);
        } else if (name == "sessionID") {
            stringField(r, sessionID);
        } else if (name == "at") {
            dateField(r, at);
        } else if (name == "text") {
            stringField(r, text);
        } else {
            r.skip();
        }
    }
    if (r.failed() || !id.value || !sessionID.value || !at.value || !text.value) {
        return std::nullopt;
    }
    return Prompt{std::move(*id.value), std::move(*sessionID.value), *at.value,
                  std::move(*text.value)};
}

} // namespace ostrel::recordReading
