#pragma once

#include "XServer.h"

#include <QMargins>
#include <QProcessEnvironment>
#include <QSize>
#include <QString>

#include <gtest/gtest.h>

#include <string>

namespace ostrel::test {

// One screen the end-to-end tests run the binary on: its size and scale, the panels along its
// edges, and the desktop around it.
struct TestScreen {
    const char* name;
    QSize size; // device pixels
    double scale = 1;
    QMargins panels = {}; // device pixels
    bool manager = false;
    bool compositor = false;
    // The bottom pill rather than the notch.
    bool bottomPill = false;

    XServer::Options options() const {
        XServer::Options o;
        o.size = size;
        o.windowManager = manager;
        o.compositor = compositor;
        return o;
    }

    QProcessEnvironment environment() const {
        QProcessEnvironment env;
        env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::number(scale));
        return env;
    }

    // A test name gtest accepts: the screen's name without dashes or dots.
    static std::string testName(const testing::TestParamInfo<TestScreen>& info) {
        return QString::fromLatin1(info.param.name)
            .replace(QLatin1Char('-'), QLatin1Char('_'))
            .replace(QLatin1Char('.'), QLatin1Char('_'))
            .toStdString();
    }
};

} // namespace ostrel::test
