#pragma once

#include "OstrelCore/Records/Session.h"
#include "OstrelCore/Shelf/ShelfGroups.h"

#include <QString>

#include <optional>

namespace ostrel::SessionText {

// What a session is called wherever it is shown: its name, else its folder.
QString title(const Session& session);

// One line under a session's title: the context and the start time joined by " · ", or the time
// alone when there is no context.
QString detail(const std::optional<QString>& context, const QString& time);

// The line above a turn's cards: the prompt's text exactly as stored, else "Earlier" for the turn
// of items without a prompt, else "Prompt".
QString caption(const Turn& turn);

} // namespace ostrel::SessionText
