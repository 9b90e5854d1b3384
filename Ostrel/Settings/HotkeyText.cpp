#include "Ostrel/Settings/HotkeyText.h"

#include <QStringList>

#include <array>
#include <utility>

namespace ostrel::HotkeyText {

namespace {

QHash<qint64, QString> makeKeyNames() {
    QHash<qint64, QString> names;
    const std::array<std::pair<qint64, const char16_t*>, 20> named{{
        {49, u"Space"}, {36, u"↩"},  {48, u"⇥"}, {51, u"⌫"}, {117, u"⌦"}, {123, u"←"}, {124, u"→"},
        {126, u"↑"},    {125, u"↓"}, {50, u"`"}, {27, u"-"}, {24, u"="},  {33, u"["},  {30, u"]"},
        {41, u";"},     {39, u"'"},  {43, u","}, {47, u"."}, {44, u"/"},  {42, u"\\"},
    }};
    for (const auto& [code, name] : named) {
        names.insert(code, QString::fromUtf16(name));
    }
    const std::array<qint64, 26> letters{0,  11, 8,  2,  14, 3, 5,  4,  34, 38, 40, 37, 46,
                                         45, 31, 35, 12, 15, 1, 17, 32, 9,  13, 7,  16, 6};
    for (std::size_t i = 0; i < letters.size(); ++i) {
        names.insert(letters[i], QString(QChar(u'A' + static_cast<char16_t>(i))));
    }
    const std::array<qint64, 10> digits{29, 18, 19, 20, 21, 23, 22, 26, 28, 25};
    for (std::size_t i = 0; i < digits.size(); ++i) {
        names.insert(digits[i], QString::number(i));
    }
    const std::array<qint64, 12> functions{122, 120, 99, 118, 96, 97, 98, 100, 101, 109, 103, 111};
    for (std::size_t i = 0; i < functions.size(); ++i) {
        names.insert(functions[i], QStringLiteral("F") + QString::number(i + 1));
    }
    return names;
}

} // namespace

const QHash<qint64, QString>& keyNames() {
    static const QHash<qint64, QString> names = makeKeyNames();
    return names;
}

QString describe(qint64 keyCode, qint64 modifiers) {
    QStringList parts;
    if (modifiers & control) {
        parts << QStringLiteral("Ctrl");
    }
    if (modifiers & option) {
        parts << QStringLiteral("Alt");
    }
    if (modifiers & shift) {
        parts << QStringLiteral("Shift");
    }
    if (modifiers & command) {
        parts << QStringLiteral("Super");
    }
    const auto name = keyNames().constFind(keyCode);
    parts << (name != keyNames().constEnd() ? *name
                                            : QStringLiteral("Key ") + QString::number(keyCode));
    return parts.join(u'+');
}

qint64 carbonModifiers(Qt::KeyboardModifiers flags) {
    qint64 mask = 0;
    if (flags & Qt::MetaModifier) {
        mask += command;
    }
    if (flags & Qt::ShiftModifier) {
        mask += shift;
    }
    if (flags & Qt::AltModifier) {
        mask += option;
    }
    if (flags & Qt::ControlModifier) {
        mask += control;
    }
    return mask;
}

} // namespace ostrel::HotkeyText
