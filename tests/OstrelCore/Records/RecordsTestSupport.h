#pragma once

#include "OstrelCore/Records/Prompt.h"
#include "OstrelCore/Records/Session.h"
#include "OstrelCore/Records/ShelfItem.h"

#include <QJsonDocument>

#include <csignal>
#include <sys/resource.h>

namespace ostrel::test {

inline ShelfItem makeItem(const QString& id, double createdAt, const QString& session = "s1") {
    ShelfItem item;
    item.id = id;
    item.kind = ShelfItemKind::image;
    item.title = id;
    item.sessionID = session;
    item.sourceKinds = {Source::scratchpad};
    item.createdAt = Date(createdAt);
    return item;
}

inline Prompt makePrompt(const QString& id, const QString& session, double at) {
    return Prompt{id, session, Date(at), QStringLiteral("prompt ") + id};
}

inline Session makeSession(const QString& id, double started, double last) {
    return Session(id, std::nullopt, std::nullopt, std::nullopt, Date(started), Date(last));
}

inline QJsonObject parseObject(const QByteArray& json) {
    return QJsonDocument::fromJson(json).object();
}

// While it lives, no file of the process grows past `bytes`: a write beyond fails (EFBIG), as
// on a full disk, instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) : previous_(std::signal(SIGXFSZ, SIG_IGN)) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    void (*previous_)(int);
    rlimit saved_{};
};

} // namespace ostrel::test
