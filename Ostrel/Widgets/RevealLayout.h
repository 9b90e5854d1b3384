#pragma once

#include "OstrelCore/Display/MotionAnimator.h"
#include "Platform/MainClock.h"

#include <QLayout>
#include <QList>
#include <QPointer>

#include <memory>

namespace ostrel {

// A column of widgets, each as wide as the layout and as tall as it asks, kept to the top. A
// widget's presence (0 to 1) scales its room and the gap before it, and shows only that share of
// its top, faded by as much: so a row can grow in or fold away without squeezing its contents.
class RevealLayout : public QLayout {
public:
    explicit RevealLayout(QWidget* parent = nullptr);
    ~RevealLayout() override;

    void insertWidget(int index, QWidget* widget);
    int indexOf(const QWidget* widget) const;

    void setPresence(QWidget* widget, double presence);
    double presence(const QWidget* widget) const;

    void addItem(QLayoutItem* item) override;
    int count() const override { return static_cast<int>(items_.size()); }
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    Qt::Orientations expandingDirections() const override { return Qt::Horizontal; }
    void setGeometry(const QRect& rect) override;

private:
    struct Entry {
        QLayoutItem* item;
        double presence = 1;
    };
    // Height of the whole column for a content width; `place` puts the items there.
    int arrange(const QRect& rect, bool place) const;

    QList<Entry> items_;
};

// Shows and hides the widgets of a RevealLayout along a curve on the interface clock: a widget
// shown grows in from nothing; one hidden is hidden at once (so conditions read the new state)
// and a picture of it folds away in its place. A change that interrupts another starts from where
// the first had got to.
class Reveal final : public QObject {
public:
    Reveal(RevealLayout* layout, std::shared_ptr<MainClock> clock, QObject* parent = nullptr);

    void setClock(std::shared_ptr<MainClock> clock) { clock_ = std::move(clock); }
    void setShown(QWidget* widget, bool shown, const Motion::Curve& curve);
    // Whether a widget is a picture left folding away, not one of the layout's own.
    static bool isFolding(const QWidget* widget);

private:
    struct Run {
        QPointer<QWidget> widget;
        QPointer<QWidget> picture;
        Motion::Animated presence;
    };
    Run* runOf(const QWidget* widget);
    void frame();

    QPointer<RevealLayout> layout_;
    std::shared_ptr<MainClock> clock_;
    std::vector<std::unique_ptr<Run>> runs_;
    MainClock::Handle next_;
};

} // namespace ostrel
