#pragma once

#include "XServer.h"

#include <QRect>
#include <QRegularExpression>
#include <QString>

namespace ostrel::test {

// The id of the application's first shown window with this title; 0 when none shows.
inline quint32 windowNamed(XServer& x, const QString& title) {
    return x.xdotool({"search", "--onlyvisible", "--name", "^" + title + "$"})
        .section(u'\n', 0, 0)
        .trimmed()
        .toUInt();
}

// The window manager's frame around a client, as the manager tells it; the client itself where
// no manager frames it.
inline QRect outerFrame(XServer& x, quint32 client) {
    const QRect inner = x.window(client)->geometry;
    const auto m = QRegularExpression(QStringLiteral("= (\\d+), (\\d+), (\\d+), (\\d+)"))
                       .match(x.xprop({QStringLiteral("-id"), QString::number(client),
                                       QStringLiteral("_NET_FRAME_EXTENTS")}));
    if (!m.hasMatch()) {
        return inner;
    }
    return inner.adjusted(-m.captured(1).toInt(), -m.captured(3).toInt(), m.captured(2).toInt(),
                          m.captured(4).toInt());
}

} // namespace ostrel::test
