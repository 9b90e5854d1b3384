#pragma once

#include "XServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace ostrel::test {

// The items of the index the application saved in the test's home; none before it saved one.
inline QJsonArray savedIndexItems(const XServer& x) {
    return QJsonDocument::fromJson(x.home().read(QStringLiteral("data/Ostrel/index.json")))
        .object()
        .value(QStringLiteral("items"))
        .toArray();
}

} // namespace ostrel::test
