#include "Ostrel/Widgets/RevealLayout.h"

#include "OstrelCore/Display/Motion.h"

#include <QGraphicsEffect>
#include <QPainter>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace ostrel {

namespace {

// Draws only the top `share` of its widget, at that opacity.
class RevealEffect final : public QGraphicsEffect {
public:
    explicit RevealEffect(QObject* parent) : QGraphicsEffect(parent) {}

    void setShare(double share) {
        if (share != share_) {
            share_ = share;
            update();
        }
    }

protected:
    void draw(QPainter* painter) override {
        QPoint offset;
        const QPixmap picture = sourcePixmap(Qt::LogicalCoordinates, &offset, NoPad);
        const QRectF bounds = sourceBoundingRect(Qt::LogicalCoordinates);
        painter->save();
        painter->setOpacity(painter->opacity() * share_);
        painter->setClipRect(
            QRectF(bounds.topLeft(), QSizeF(bounds.width(), bounds.height() * share_)),
            Qt::IntersectClip);
        painter->drawPixmap(offset, picture);
        painter->restore();
    }

private:
    double share_ = 1;
};

// What a hidden widget looked like, folding away where it was.
class FoldingPicture final : public QWidget {
public:
    FoldingPicture(QPixmap picture, QWidget* parent)
        : QWidget(parent), picture_(std::move(picture)) {
        setObjectName(QStringLiteral("folding"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        const QSize size = picture_.deviceIndependentSize().toSize();
        setFixedHeight(size.height());
        setMinimumWidth(0);
    }
    QSize sizeHint() const override { return picture_.deviceIndependentSize().toSize(); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.drawPixmap(0, 0, picture_);
    }

private:
    QPixmap picture_;
};

int itemHeight(QLayoutItem* item, int width) {
    const int h =
        item->hasHeightForWidth() ? item->heightForWidth(width) : item->sizeHint().height();
    return std::clamp(h, item->minimumSize().height(), item->maximumSize().height());
}

} // namespace

RevealLayout::RevealLayout(QWidget* parent) : QLayout(parent) {}

RevealLayout::~RevealLayout() {
    while (QLayoutItem* item = takeAt(0)) {
        delete item;
    }
}

void RevealLayout::addItem(QLayoutItem* item) {
    items_.append(Entry{item});
}

void RevealLayout::insertWidget(int index, QWidget* widget) {
    addChildWidget(widget);
    items_.insert(std::clamp(index, 0, count()), Entry{new QWidgetItem(widget)});
    invalidate();
}

int RevealLayout::indexOf(const QWidget* widget) const {
    for (int i = 0; i < count(); ++i) {
        if (items_[i].item->widget() == widget) {
            return i;
        }
    }
    return -1;
}

QLayoutItem* RevealLayout::itemAt(int index) const {
    return index >= 0 && index < count() ? items_[index].item : nullptr;
}

QLayoutItem* RevealLayout::takeAt(int index) {
    if (index < 0 || index >= count()) {
        return nullptr;
    }
    QLayoutItem* item = items_.takeAt(index).item;
    invalidate();
    return item;
}

void RevealLayout::setPresence(QWidget* widget, double presence) {
    const int i = indexOf(widget);
    if (i < 0) {
        return;
    }
    presence = std::clamp(presence, 0.0, 1.0);
    auto* effect = dynamic_cast<RevealEffect*>(widget->graphicsEffect());
    if (presence < 1) {
        if (!effect && !widget->graphicsEffect()) {
            effect = new RevealEffect(widget);
            widget->setGraphicsEffect(effect);
        }
        if (effect) {
            effect->setShare(presence);
        }
    } else if (effect) {
        widget->setGraphicsEffect(nullptr);
    }
    if (items_[i].presence != presence) {
        items_[i].presence = presence;
        invalidate();
    }
}

double RevealLayout::presence(const QWidget* widget) const {
    const int i = indexOf(widget);
    return i < 0 ? 0 : items_[i].presence;
}

int RevealLayout::arrange(const QRect& rect, bool place) const {
    const QMargins m = contentsMargins();
    const int width = std::max(0, rect.width() - m.left() - m.right());
    double y = rect.top() + m.top();
    // The gap before a widget grows with it and with the most present widget above it.
    double above = 0;
    for (const Entry& e : items_) {
        if (e.item->isEmpty()) {
            continue;
        }
        y += spacing() * std::min(e.presence, above);
        const int h = itemHeight(e.item, width);
        if (place) {
            e.item->setGeometry(QRect(rect.left() + m.left(), int(std::lround(y)), width, h));
        }
        y += h * e.presence;
        above = std::max(above, e.presence);
    }
    return int(std::ceil(y - rect.top())) + m.bottom();
}

QSize RevealLayout::sizeHint() const {
    int width = 0;
    double height = 0;
    double above = 0;
    for (const Entry& e : items_) {
        if (e.item->isEmpty()) {
            continue;
        }
        width = std::max(width, e.item->sizeHint().width());
        height +=
            spacing() * std::min(e.presence, above) + e.item->sizeHint().height() * e.presence;
        above = std::max(above, e.presence);
    }
    const QMargins m = contentsMargins();
    return QSize(width + m.left() + m.right(), int(std::ceil(height)) + m.top() + m.bottom());
}

QSize RevealLayout::minimumSize() const {
    int width = 0;
    double height = 0;
    double above = 0;
    for (const Entry& e : items_) {
        if (e.item->isEmpty()) {
            continue;
        }
        width = std::max(width, e.item->minimumSize().width());
        height +=
            spacing() * std::min(e.presence, above) + e.item->minimumSize().height() * e.presence;
        above = std::max(above, e.presence);
    }
    const QMargins m = contentsMargins();
    return QSize(width + m.left() + m.right(), int(std::ceil(height)) + m.top() + m.bottom());
}

bool RevealLayout::hasHeightForWidth() const {
    return std::any_of(items_.begin(), items_.end(), [](const Entry& e) {
        return !e.item->isEmpty() && e.item->hasHeightForWidth();
    });
}

int RevealLayout::heightForWidth(int width) const {
    return arrange(QRect(0, 0, width, 0), false);
}

void RevealLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    arrange(rect, true);
    // What the parent draws between the widgets (hairlines) follows them.
    if (QWidget* parent = parentWidget()) {
        parent->update();
    }
}

// --- Reveal

Reveal::Reveal(RevealLayout* layout, std::shared_ptr<MainClock> clock, QObject* parent)
    : QObject(parent), layout_(layout), clock_(std::move(clock)) {}

bool Reveal::isFolding(const QWidget* widget) {
    return dynamic_cast<const FoldingPicture*>(widget) != nullptr;
}

Reveal::Run* Reveal::runOf(const QWidget* widget) {
    for (auto& run : runs_) {
        if (run->widget == widget) {
            return run.get();
        }
    }
    return nullptr;
}

void Reveal::setShown(QWidget* widget, bool shown, const Motion::Curve& curve) {
    if (!layout_ || !widget || layout_->indexOf(widget) < 0) {
        return;
    }
    // Hiding is at once and showing starts at once, so the hidden flag is where it is heading.
    if (shown != widget->isHidden()) {
        return;
    }
    Run* run = runOf(widget);
    // Where the widget stands now: its picture's share while it folds away, else its own.
    double at = widget->isHidden() ? 0 : layout_->presence(widget);
    if (run && run->picture) {
        at = layout_->presence(run->picture);
        layout_->removeWidget(run->picture);
        delete run->picture.data();
    }
    if (!run) {
        runs_.push_back(std::make_unique<Run>());
        run = runs_.back().get();
        run->widget = widget;
    }
    run->presence.set(at);
    run->presence.animate(shown ? 1 : 0, curve, clock_->now());
    if (shown) {
        layout_->setPresence(widget, curve.kind() == Motion::Curve::Kind::none ? 1 : at);
        widget->show();
    } else {
        layout_->setPresence(widget, 1);
        const bool folds =
            curve.kind() != Motion::Curve::Kind::none && at > 0 && widget->isVisible();
        QPixmap look;
        if (folds) {
            // Only what the widget draws: the window's background would show as a box.
            const qreal ratio = widget->devicePixelRatioF();
            look = QPixmap(widget->size() * ratio);
            look.setDevicePixelRatio(ratio);
            look.fill(Qt::transparent);
            widget->render(&look, QPoint(), QRegion(), QWidget::DrawChildren);
        }
        // Hidden before its picture shows: showing lays the window out at once.
        widget->hide();
        if (folds) {
            auto* picture = new FoldingPicture(look, nullptr);
            layout_->insertWidget(layout_->indexOf(widget), picture);
            layout_->setPresence(picture, at);
            picture->show();
            run->picture = picture;
        }
    }
    next_.cancel();
    frame();
}

void Reveal::frame() {
    if (!layout_) {
        return;
    }
    const double now = clock_->now();
    bool running = false;
    for (auto it = runs_.begin(); it != runs_.end();) {
        Run& run = **it;
        const double p = Motion::clamp01(run.presence.value(now));
        const bool over = !run.presence.isRunning(now);
        if (run.picture) {
            layout_->setPresence(run.picture, p);
            if (over) {
                layout_->removeWidget(run.picture);
                delete run.picture.data();
            }
        } else if (run.widget && !run.widget->isHidden()) {
            layout_->setPresence(run.widget, over ? 1 : p);
        }
        if (over || !run.widget) {
            it = runs_.erase(it);
        } else {
            running = true;
            ++it;
        }
    }
    if (running) {
        next_ = clock_->after(Motion::frame, this, [this] { frame(); });
    }
}

} // namespace ostrel
