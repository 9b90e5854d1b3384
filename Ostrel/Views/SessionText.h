#pragma once

#include "OstrelCore/Records/Session.h"
#include "OstrelCore/Shelf/ShelfGroups.h"

#include <QFont>
#include <QString>

#include <optional>

namespace ostrel::SessionText {

// What a session is called wherever it is shown: its name, else its folder.
QString title(const Session& session);

// What joins the parts of a session's line: its folder and branch, its context and its time.
inline const QString separator = QStringLiteral(" \u00b7 ");

// One line under a session's title: the context and the start time joined by " · ", or the time
// alone when there is no context.
QString detail(const std::optional<QString>& context, const QString& time);

// A context cut in the middle to `width`, its folder and branch joined by the whole " · " whatever
// is cut: where the middle cut would take any of the separator, the folder is cut at its end and
// the branch at its start instead ("acme-… · main", "acme… · …ure-x").
QString fittedContext(const QString& context, const QFont& font, double width);

// The line above a turn's cards: the prompt's text exactly as stored, else "Earlier" for the turn
// of items without a prompt, else "Prompt".
QString caption(const Turn& turn);

} // namespace ostrel::SessionText
