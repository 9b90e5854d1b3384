#include "Ostrel/Model/ShelfModel.h"

#include "Ostrel/Model/ShelfModelParts.h"
#include "Platform/ImageSource.h"

#include <QScreen>

#include <algorithm>

// Clicks, keyboard selection and the shelf keys, and what can be done with the selected item:
// preview, open, reveal, copy.

namespace ostrel {

using namespace shelfModelParts;

void ShelfModel::click(const ShelfItem& item, int count) {
    if (!presses_.allowsTap()) {
        return;
    }
    setSelectedItemID(item.id);
    if (count <= 1) {
        if (previewShowing()) {
            showQuickLook(item);
        }
        return;
    }
    if (onPreviewOpened) {
        onPreviewOpened();
    }
    openInDefaultApp(item);
}

void ShelfModel::clickDeck(const Turn& turn, const ShelfItem& item, int count) {
    if (!presses_.allowsTap()) {
        return;
    }
    DeckFan next = fan_;
    const bool opened = next.click(turn.id, turn.items.size(), holdsSelection(turn));
    setFanValue(next);
    if (!opened) {
        click(item, count);
    }
}

bool ShelfModel::holdsSelection(const Turn& turn) const {
    if (!selectedItemID_) {
        return false;
    }
    return std::any_of(turn.items.begin(), turn.items.end(),
                       [this](const ShelfItem& item) { return item.id == *selectedItemID_; });
}

bool ShelfModel::isFanned(const Turn& turn) const {
    return fan_.isFanned(turn.id, turn.items.size(), holdsSelection(turn));
}

void ShelfModel::clearSelection() {
    if (presses_.allowsTap()) {
        setSelectedItemID(std::nullopt);
    }
}

void ShelfModel::toggleCollapsed(const QString& section) {
    {
        Animating scope(*this, Motion::undoSpring(motionContext(scale_)));
        CollapsedSections next = collapsed_;
        next.toggle(section);
        setCollapsedValue(next);
        if (collapsed_.contains(section)) {
            QStringList turnIDs;
            for (const SessionGroup& group : groups_) {
                if (group.id() == section) {
                    for (const Turn& turn : group.turns) {
                        turnIDs.append(turn.id);
                    }
                    break;
                }
            }
            DeckFan folded = fan_;
            folded.fold(section, turnIDs);
            setFanValue(folded);
        }
    }
    validateSelection();
}

std::optional<ShelfItem> ShelfModel::selectedItem() const {
    if (!selectedItemID_) {
        return std::nullopt;
    }
    for (const SessionGroup& group : groups_) {
        for (const Turn& turn : group.turns) {
            for (const ShelfItem& item : turn.items) {
                if (item.id == *selectedItemID_) {
                    return item;
                }
            }
        }
    }
    return std::nullopt;
}

void ShelfModel::moveSelection(ShelfSelection::Direction direction) {
    const CollapsedSections::Selection frame =
        collapsed_.selection(openLayoutKind(), groups_, selectedGroup());
    const auto next =
        ShelfSelection::move(selectedItemID_, direction, frame.sections, frame.columns);
    if (!next || next == selectedItemID_) {
        return;
    }
    {
        Animating scope(*this, Motion::noAnimation());
        setSelectedItemID(next);
    }
    if (previewShowing()) {
        if (const auto item = selectedItem()) {
            showQuickLook(*item);
        }
    }
}

void ShelfModel::handleKey(ShelfKey key) {
    tips_->refreshAnchor();
    switch (key) {
    case ShelfKey::space:
        if (previewShowing()) {
            preview_->close();
        } else if (const auto item = selectedItem(); item && openScreen_) {
            // A space that comes after the shelf closed (pressed while it went) previews nothing:
            // no key would reach a preview over a closed shelf to close it.
            showQuickLook(*item);
        }
        return;
    case ShelfKey::escape: {
        DeckFan next = fan_;
        switch (next.escape(previewShowing(), selectedItemID_.has_value())) {
        case DeckFan::EscapeStep::closePreview:
            preview_->close();
            break;
        case DeckFan::EscapeStep::clearSelection:
            setSelectedItemID(std::nullopt);
            break;
        case DeckFan::EscapeStep::collapseDeck:
            setFanValue(next);
            break;
        case DeckFan::EscapeStep::nothing:
            break;
        }
        return;
    }
    case ShelfKey::left:
        moveSelection(ShelfSelection::Direction::left);
        return;
    case ShelfKey::right:
        moveSelection(ShelfSelection::Direction::right);
        return;
    case ShelfKey::up:
        moveSelection(ShelfSelection::Direction::up);
        return;
    case ShelfKey::down:
        moveSelection(ShelfSelection::Direction::down);
        return;
    }
}

void ShelfModel::showQuickLook(const ShelfItem& item) {
    QUrl url;
    if (item.fileURL) {
        url = *item.fileURL;
    } else if (item.sourcePath && Desktop::isReadableFile(*item.sourcePath)) {
        url = QUrl::fromLocalFile(*item.sourcePath);
    } else {
        return;
    }
    engine_->markSeen({item.id});
    QScreen* screen = openScreen_ ? screenFor(*openScreen_) : nullptr;
    const auto stored = ImageSource::openFile(thumbURL(item.id).toLocalFile());
    const QImage transition = stored ? stored->wholePicture().value_or(QImage()) : QImage();
    const QPointer<ShelfModel> self(this);
    const QString id = item.id;
    preview_->show(
        url, item.title, screen,
        [self, id]() -> std::optional<QRectF> {
            return self ? self->itemFrameOnScreen(id) : std::nullopt;
        },
        transition);
}

void ShelfModel::selectAndPreview(const ShelfItem& item) {
    setSelectedItemID(item.id);
    showQuickLook(item);
}

void ShelfModel::openInDefaultApp(const ShelfItem& item) {
    QUrl url;
    if (item.remoteURL && isWebAddress(*item.remoteURL)) {
        url = *item.remoteURL;
    } else if (item.fileURL && item.fileURL->isLocalFile()) {
        url = *item.fileURL;
    } else {
        return;
    }
    desktop_->open(url);
    engine_->markSeen({item.id});
}

void ShelfModel::revealInFinder(const ShelfItem& item) {
    if (item.fileURL && item.fileURL->isLocalFile()) {
        desktop_->reveal(item.fileURL->toLocalFile());
    }
}

void ShelfModel::copyLink(const ShelfItem& item) {
    if (item.fileURL) {
        desktop_->copyText(item.fileURL->isLocalFile() ? item.fileURL->toLocalFile()
                                                       : item.fileURL->path());
    } else if (item.remoteURL) {
        desktop_->copyText(item.remoteURL->toString(QUrl::FullyEncoded));
    }
}

void ShelfModel::copyImage(const ShelfItem& item) {
    if (item.kind != ShelfItemKind::image || !item.fileURL || !item.fileURL->isLocalFile()) {
        return;
    }
    // Decoded by what the file holds: a drawing named as a picture is drawn without the files
    // it names, and a picture is decoded only within the memory its size allows.
    const auto source = ImageSource::openFile(item.fileURL->toLocalFile());
    if (const auto image = source ? source->wholePicture() : std::nullopt) {
        desktop_->copyImage(*image);
    }
}

} // namespace ostrel
