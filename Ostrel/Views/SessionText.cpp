#include "Ostrel/Views/SessionText.h"

namespace ostrel::SessionText {

QString title(const Session& session) {
    return session.name().value_or(session.folder());
}

QString detail(const std::optional<QString>& context, const QString& time) {
    if (!context) {
        return time;
    }
    return *context + QStringLiteral(" · ") + time;
}

QString caption(const Turn& turn) {
    if (turn.prompt && !turn.prompt->text.isEmpty()) {
        return turn.prompt->text;
    }
    return turn.isEarlier() ? QStringLiteral("Earlier") : QStringLiteral("Prompt");
}

} // namespace ostrel::SessionText
