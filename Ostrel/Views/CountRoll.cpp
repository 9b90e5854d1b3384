#include "Ostrel/Views/CountRoll.h"

#include <QFontMetricsF>

#include <algorithm>

namespace ostrel {

namespace {

// The left end of each character's baseline when `text` is centred in `rect`.
std::vector<QPointF> places(const QString& text, const QRectF& rect, const QFontMetricsF& m) {
    std::vector<QPointF> out;
    const double left = rect.center().x() - m.horizontalAdvance(text) / 2;
    const double baseline = rect.center().y() - m.height() / 2 + m.ascent();
    out.reserve(size_t(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        out.emplace_back(left + m.horizontalAdvance(text.left(i)), baseline);
    }
    return out;
}

double clamp01(double x) {
    return std::clamp(x, 0.0, 1.0);
}

} // namespace

double CountRoll::travel(const QFont& font) {
    return QFontMetricsF(font).ascent() * 0.8;
}

std::vector<CountRoll::Glyph> CountRoll::glyphs(const QRectF& rect, const QFont& font) const {
    const QFontMetricsF m(font);
    std::vector<Glyph> out;
    if (progress == 1 || from == to) {
        const auto at = places(to, rect, m);
        for (qsizetype i = 0; i < to.size(); ++i) {
            out.push_back({QString(to[i]), at[size_t(i)], 1});
        }
        return out;
    }
    const auto old = places(from, rect, m);
    const auto now = places(to, rect, m);
    const double p = progress;
    const double lift = travel(font);
    const qsizetype n = std::max(from.size(), to.size());
    for (qsizetype k = 0; k < n; ++k) {
        const qsizetype a = from.size() - 1 - k;
        const qsizetype b = to.size() - 1 - k;
        if (a >= 0 && b >= 0 && from[a] == to[b]) {
            const QPointF x = old[size_t(a)] + (now[size_t(b)] - old[size_t(a)]) * p;
            out.push_back({QString(to[b]), x, 1});
            continue;
        }
        if (a >= 0) {
            out.push_back(
                {QString(from[a]), old[size_t(a)] - QPointF(0, lift * p), clamp01(1 - p)});
        }
        if (b >= 0) {
            out.push_back(
                {QString(to[b]), now[size_t(b)] + QPointF(0, lift * (1 - p)), clamp01(p)});
        }
    }
    return out;
}

} // namespace ostrel
