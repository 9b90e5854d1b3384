#include "OstrelCore/Shelf/TextOrder.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace ostrel::TextOrder {

namespace {

// No character below U+0300 decomposes, and none of them combines with what precedes it, so such a
// text is its own composed form. Within that range code-unit order is scalar order, which spares
// the usual ids (ASCII) any normalisation or copy.
bool composedAsIs(QStringView text) {
    for (const QChar c : text) {
        if (c.unicode() >= 0x300) {
            return false;
        }
    }
    return true;
}

} // namespace

QByteArray key(const QString& text) {
    if (composedAsIs(text)) {
        return text.toUtf8();
    }
    return text.normalized(QString::NormalizationForm_C).toUtf8();
}

std::strong_ordering compareKeys(const QByteArray& a, const QByteArray& b) {
    const qsizetype common = std::min(a.size(), b.size());
    const int c = common > 0 ? std::memcmp(a.constData(), b.constData(), size_t(common)) : 0;
    if (c != 0) {
        return c < 0 ? std::strong_ordering::less : std::strong_ordering::greater;
    }
    return a.size() <=> b.size();
}

std::weak_ordering compare(const QString& a, const QString& b) {
    if (composedAsIs(a) && composedAsIs(b)) {
        const int c = QStringView(a).compare(QStringView(b));
        return c < 0 ? std::weak_ordering::less
                     : (c > 0 ? std::weak_ordering::greater : std::weak_ordering::equivalent);
    }
    return compareKeys(key(a), key(b));
}

void sort(QList<QString>& texts) {
    if (texts.size() < 2) {
        return;
    }
    struct Keyed {
        QByteArray key;
        QString text;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(size_t(texts.size()));
    for (const QString& text : texts) {
        keyed.push_back({key(text), text});
    }
    std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        const auto c = compareKeys(a.key, b.key);
        if (c != 0) {
            return c < 0;
        }
        return QStringView(a.text).compare(QStringView(b.text)) < 0;
    });
    for (size_t i = 0; i < keyed.size(); ++i) {
        texts[qsizetype(i)] = std::move(keyed[i].text);
    }
}

} // namespace ostrel::TextOrder
