#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

namespace ostrel {

// Which card deck of the stacks layouts is spread out. At most one deck is opened by a click;
// a deck of fewer than two cards, or one holding the selected item, is spread regardless.
struct DeckFan {
    // What one press of Escape did, innermost layer first.
    enum class EscapeStep { closePreview, clearSelection, collapseDeck, nothing };

    // The turn id of the deck the user opened by a click.
    std::optional<QString> clickedOpen;

    bool isFanned(const QString& turnID, qint64 itemCount, bool holdsSelection) const;
    // Whether the click opened the deck and so was used up; otherwise it goes on to the card.
    bool click(const QString& turnID, qint64 itemCount, bool holdsSelection);
    // A section was just collapsed: `section` is its turn or session id, `turnIDs` the turns of
    // that session (or none).
    void fold(const QString& section, const QStringList& turnIDs);
    EscapeStep escape(bool previewShowing, bool hasSelection);
    void close() { clickedOpen.reset(); }
    // Folds the open deck once its turn is no longer shown.
    void itemsChanged(const QSet<QString>& turnIDs);

    friend bool operator==(const DeckFan&, const DeckFan&) = default;
};

} // namespace ostrel
