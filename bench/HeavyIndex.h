#pragma once

// The persisted index at the size of a long-used shelf, shared by the store benchmarks:
// 20,000 items (5,000 of them hidden), 2,000 sessions, 20,000 prompts, 10,000 transcript offsets
// and a source check for each of the 15,000 items held.
#include "OstrelCore/Records/Store.h"

namespace ostrel::bench {

inline constexpr int itemCount = 20000;
inline constexpr int hiddenCount = 5000;
inline constexpr int sessionCount = 2000;
inline constexpr int promptCount = 20000;
inline constexpr int offsetCount = 10000;
inline constexpr double now = 800'000'000.0;

inline QString hexId(int i) {
    return QString::number(i, 16).rightJustified(64, u'0');
}

// Fills a store the way a heavy user's index looks; item i was created i seconds before `now`.
inline void fillHeavyIndex(Store& store, const QString& root) {
    for (int s = 0; s < sessionCount; ++s) {
        Session session(QStringLiteral("session-%1").arg(s),
                        QStringLiteral("-work-project-%1").arg(s % 50),
                        QStringLiteral("/work/project-%1").arg(s % 50), QStringLiteral("main"),
                        Date(now - 30 * 86400 + s), Date(now - s));
        session.firstPrompt = QStringLiteral("Make the chart look better, number %1").arg(s);
        session.firstPromptAt = session.startedAt;
        store.upsert(session);
    }
    for (int p = 0; p < promptCount; ++p) {
        store.upsert(
            Prompt{QStringLiteral("prompt-%1").arg(p),
                   QStringLiteral("session-%1").arg(p % sessionCount), Date(now - p * 2.5),
                   QStringLiteral("Please render the dashboard and take a screenshot %1").arg(p)});
    }
    for (int i = 0; i < itemCount; ++i) {
        ShelfItem item;
        item.id = hexId(i);
        item.kind = i % 7 == 0 ? ShelfItemKind::pdf : ShelfItemKind::image;
        item.fileURL = QUrl::fromLocalFile(root + QStringLiteral("/items/") + item.id + ".png");
        item.sourcePath = QStringLiteral("/tmp/claude-1000/-work-project/%1/scratchpad/shot-%2.png")
                              .arg(i % sessionCount)
                              .arg(i);
        item.title = QStringLiteral("shot-%1.png").arg(i);
        item.sessionID = QStringLiteral("session-%1").arg(i % sessionCount);
        item.sourceKinds = {Source::scratchpad};
        item.createdAt = Date(now - i - 0.123456789);
        if (i % 3 == 0) {
            item.seenAt = Date(now - i + 1.5);
        }
        item.width = 1440;
        item.height = 900;
        store.upsert(item);
    }
    for (int i = 0; i < hiddenCount; ++i) {
        store.hide(hexId(i * 4 + 1));
    }
    for (const ShelfItem& item : store.items()) {
        store.setSourceChecked(*item.sourcePath, Date(item.createdAt.seconds - 0.5), item.id);
    }
    for (int o = 0; o < offsetCount; ++o) {
        store.setOffset(static_cast<quint64>(o) * 4096,
                        root + QStringLiteral("/t-%1.jsonl").arg(o));
    }
}

} // namespace ostrel::bench
