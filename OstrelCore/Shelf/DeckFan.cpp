#include "OstrelCore/Shelf/DeckFan.h"

#include <QStringList>

namespace ostrel {

bool DeckFan::isFanned(const QString& turnID, qint64 itemCount, bool holdsSelection) const {
    if (itemCount < 2 || holdsSelection) {
        return true;
    }
    return clickedOpen == turnID;
}

bool DeckFan::click(const QString& turnID, qint64 itemCount, bool holdsSelection) {
    if (itemCount < 2 || holdsSelection || clickedOpen == turnID) {
        return false;
    }
    clickedOpen = turnID;
    return true;
}

void DeckFan::fold(const QString& section, const QStringList& turnIDs) {
    if (clickedOpen && (*clickedOpen == section || turnIDs.contains(*clickedOpen))) {
        clickedOpen.reset();
    }
}

DeckFan::EscapeStep DeckFan::escape(bool previewShowing, bool hasSelection) {
    if (previewShowing) {
        return EscapeStep::closePreview;
    }
    if (hasSelection) {
        return EscapeStep::clearSelection;
    }
    if (clickedOpen) {
        clickedOpen.reset();
        return EscapeStep::collapseDeck;
    }
    return EscapeStep::nothing;
}

void DeckFan::itemsChanged(const QSet<QString>& turnIDs) {
    if (clickedOpen && !turnIDs.contains(*clickedOpen)) {
        clickedOpen.reset();
    }
}

} // namespace ostrel
