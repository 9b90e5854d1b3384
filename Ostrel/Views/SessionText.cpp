#include "Ostrel/Views/SessionText.h"

#include "Ostrel/Views/ShelfTips.h"

#include <QFontMetricsF>

#include <algorithm>

namespace ostrel::SessionText {

QString title(const Session& session) {
    return session.name().value_or(session.folder());
}

QString detail(const std::optional<QString>& context, const QString& time) {
    if (!context) {
        return time;
    }
    return *context + separator + time;
}

QString fittedContext(const QString& context, const QFont& font, double width) {
    const QString middle = TipText::line(context, font, width, Qt::ElideMiddle);
    const qsizetype at = context.lastIndexOf(separator);
    if (at < 0 || middle == context) {
        return middle;
    }
    // Where the middle of the text falls beside the separator, the cut takes one side of it
    // ("acme-w…· main") or all of it, and the two names read as one. The cut is then made on
    // either side of the separator instead, each name keeping half the room or what it needs.
    const qsizetype cut = middle.indexOf(QChar(0x2026));
    const QString left = middle.left(cut);
    const QString right = middle.mid(cut + 1);
    if (cut >= 0 && context.startsWith(left) && context.endsWith(right) &&
        (cut >= at + separator.size() || context.size() - right.size() <= at)) {
        return middle;
    }
    const QFontMetricsF metrics(font);
    const double room = width - metrics.horizontalAdvance(separator);
    if (!(room > 0)) {
        return middle;
    }
    const QString folder = context.left(at);
    const QString branch = context.mid(at + separator.size());
    const double folderWidth = metrics.horizontalAdvance(folder);
    const double branchWidth = metrics.horizontalAdvance(branch);
    const double branchRoom = branchWidth <= room - std::min(folderWidth, room / 2)
                                  ? branchWidth
                                  : std::max(room / 2, room - folderWidth);
    return TipText::line(folder, font, room - branchRoom, Qt::ElideRight) + separator +
           TipText::line(branch, font, branchRoom, Qt::ElideLeft);
}

QString caption(const Turn& turn) {
    if (turn.prompt && !turn.prompt->text.isEmpty()) {
        return turn.prompt->text;
    }
    return turn.isEarlier() ? QStringLiteral("Earlier") : QStringLiteral("Prompt");
}

} // namespace ostrel::SessionText
