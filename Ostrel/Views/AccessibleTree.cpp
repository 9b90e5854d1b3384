#include "Ostrel/Views/AccessibleTree.h"

#include "Ostrel/Views/AccessibleItem.h"

#include <QAccessibleActionInterface>
#include <QAccessibleObject>
#include <QGraphicsObject>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QSet>
#include <QTimer>
#include <QWindow>

#include <algorithm>

namespace ostrel {

namespace {

AccessibleItem* accessibleOf(QObject* object) {
    return object ? dynamic_cast<AccessibleItem*>(object) : nullptr;
}

QList<QGraphicsObject*> alive(const QList<QPointer<QGraphicsObject>>& list) {
    QList<QGraphicsObject*> out;
    out.reserve(list.size());
    for (const auto& item : list) {
        if (item) {
            out.append(item.data());
        }
    }
    return out;
}

// One accessible scene item as Qt's accessibility asks for it. Its actions run from the event
// loop after the request has been answered: a menu that opens blocks until it closes, and an
// action may take the item itself away.
class ItemAccessible final : public QAccessibleObject, public QAccessibleActionInterface {
public:
    explicit ItemAccessible(QGraphicsObject* item) : QAccessibleObject(item) {}

    bool isValid() const override { return accessible() != nullptr; }

    QAccessibleInterface* parent() const override {
        QGraphicsObject* item = this->item();
        QGraphicsView* view = item ? AccessibleTree::viewOf(item) : nullptr;
        if (view == nullptr) {
            return nullptr;
        }
        if (QGraphicsObject* parent = AccessibleTree::of(view)->parentOf(item)) {
            return QAccessible::queryAccessibleInterface(parent);
        }
        return QAccessible::queryAccessibleInterface(view);
    }

    int childCount() const override { return int(children().size()); }

    QAccessibleInterface* child(int index) const override {
        const auto list = children();
        if (index < 0 || index >= list.size()) {
            return nullptr;
        }
        return QAccessible::queryAccessibleInterface(list[index]);
    }

    int indexOfChild(const QAccessibleInterface* child) const override {
        if (child == nullptr) {
            return -1;
        }
        return int(children().indexOf(qobject_cast<QGraphicsObject*>(child->object())));
    }

    QAccessibleInterface* childAt(int x, int y) const override {
        QGraphicsView* view = viewOf();
        if (view == nullptr) {
            return nullptr;
        }
        for (QGraphicsObject* child : children()) {
            if (AccessibleTree::of(view)->screenRect(child).contains(x, y)) {
                return QAccessible::queryAccessibleInterface(child);
            }
        }
        return nullptr;
    }

    QString text(QAccessible::Text t) const override {
        const AccessibleItem* a = accessible();
        if (a == nullptr) {
            return {};
        }
        switch (t) {
        case QAccessible::Name:
            return a->accessibleName();
        case QAccessible::Value:
            return a->accessibleValue();
        case QAccessible::Description:
            return a->accessibleDescription();
        default:
            return {};
        }
    }

    QAccessible::Role role() const override {
        const AccessibleItem* a = accessible();
        return a ? a->accessibleRole() : QAccessible::NoRole;
    }

    QAccessible::State state() const override {
        const AccessibleItem* a = accessible();
        QAccessible::State s;
        if (a == nullptr) {
            s.invalid = true;
            return s;
        }
        s = a->accessibleState();
        if (rect().isEmpty()) {
            s.invisible = true;
            s.offscreen = true;
        }
        return s;
    }

    QRect rect() const override {
        QGraphicsObject* item = this->item();
        QGraphicsView* view = viewOf();
        return item && view ? AccessibleTree::of(view)->screenRect(item) : QRect();
    }

    QWindow* window() const override {
        QGraphicsView* view = viewOf();
        return view && view->window() ? view->window()->windowHandle() : nullptr;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ActionInterface) {
            return static_cast<QAccessibleActionInterface*>(this);
        }
        return nullptr;
    }

    QStringList actionNames() const override {
        const AccessibleItem* a = accessible();
        return a ? a->accessibleActions() : QStringList();
    }

    void doAction(const QString& name) override {
        QGraphicsObject* item = this->item();
        if (item == nullptr || !actionNames().contains(name)) {
            return;
        }
        QMetaObject::invokeMethod(
            item,
            [item = QPointer<QGraphicsObject>(item), name] {
                if (AccessibleItem* a = accessibleOf(item.data())) {
                    a->doAccessibleAction(name);
                }
            },
            Qt::QueuedConnection);
    }

    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QGraphicsObject* item() const { return qobject_cast<QGraphicsObject*>(object()); }
    AccessibleItem* accessible() const { return accessibleOf(object()); }
    QGraphicsView* viewOf() const {
        QGraphicsObject* item = this->item();
        return item ? AccessibleTree::viewOf(item) : nullptr;
    }
    QList<QGraphicsObject*> children() const {
        QGraphicsObject* item = this->item();
        QGraphicsView* view = viewOf();
        return item && view ? AccessibleTree::of(view)->children(item) : QList<QGraphicsObject*>();
    }
};

} // namespace

AccessibleTree::AccessibleTree(QGraphicsView* view) : QObject(view), view_(view) {}

AccessibleTree* AccessibleTree::of(QGraphicsView* view) {
    if (auto* tree = view->findChild<AccessibleTree*>(QString(), Qt::FindDirectChildrenOnly)) {
        return tree;
    }
    return new AccessibleTree(view);
}

QGraphicsView* AccessibleTree::viewOf(const QGraphicsItem* item) {
    QGraphicsScene* scene = item ? item->scene() : nullptr;
    if (scene == nullptr || scene->views().isEmpty()) {
        return nullptr;
    }
    return scene->views().first();
}

QAccessibleInterface* AccessibleTree::interfaceFor(QObject* object) {
    auto* item = qobject_cast<QGraphicsObject*>(object);
    if (item == nullptr || accessibleOf(item) == nullptr) {
        return nullptr;
    }
    return new ItemAccessible(item);
}

bool AccessibleTree::shows(const QGraphicsItem* item, const QRectF& area) const {
    if (!item->isVisible() || item->effectiveOpacity() <= 0) {
        return false;
    }
    QRectF r = item->boundingRect();
    if (item->isClipped()) {
        r &= item->clipPath().boundingRect();
    }
    if (r.isEmpty()) {
        return false;
    }
    return item->mapRectToScene(r).intersects(area);
}

void AccessibleTree::gather() {
    roots_.clear();
    children_.clear();
    parents_.clear();
    fresh_ = true;
    // The scene may change as soon as control returns to the event loop.
    QTimer::singleShot(0, this, [this] { fresh_ = false; });
    QGraphicsScene* scene = view_->scene();
    if (scene == nullptr || !view_->isVisible()) {
        return;
    }
    const QRectF area = view_->mapToScene(view_->viewport()->rect()).boundingRect();
    QSet<const QGraphicsItem*> checked;
    QSet<const QGraphicsObject*> shown;
    QList<QGraphicsObject*> found;
    for (QGraphicsItem* item : scene->items(area)) {
        for (QGraphicsItem* at = item; at != nullptr; at = at->parentItem()) {
            if (checked.contains(at)) {
                break;
            }
            checked.insert(at);
            QGraphicsObject* object = at->toGraphicsObject();
            if (object != nullptr && accessibleOf(object) != nullptr && shows(at, area)) {
                shown.insert(object);
                found.append(object);
            }
        }
    }
    QHash<const QGraphicsObject*, QList<QGraphicsObject*>> children;
    QList<QGraphicsObject*> roots;
    for (QGraphicsObject* object : std::as_const(found)) {
        QGraphicsObject* parent = nullptr;
        for (QGraphicsItem* at = object->parentItem(); at != nullptr; at = at->parentItem()) {
            QGraphicsObject* above = at->toGraphicsObject();
            if (above != nullptr && shown.contains(above)) {
                parent = above;
                break;
            }
        }
        parents_.insert(object, parent);
        (parent ? children[parent] : roots).append(object);
    }
    AccessibleItem::readingOrder(roots);
    for (QGraphicsObject* object : std::as_const(roots)) {
        roots_.append(object);
    }
    for (auto it = children.begin(); it != children.end(); ++it) {
        accessibleOf(const_cast<QGraphicsObject*>(it.key()))->orderAccessibleChildren(it.value());
        auto& list = children_[it.key()];
        for (QGraphicsObject* object : std::as_const(it.value())) {
            list.append(object);
        }
    }
}

QList<QGraphicsObject*> AccessibleTree::children(const QGraphicsObject* container) {
    if (!fresh_) {
        gather();
    }
    if (container == nullptr) {
        return alive(roots_);
    }
    return alive(children_.value(container));
}

QList<QGraphicsObject*> AccessibleTree::items() {
    if (!fresh_) {
        gather();
    }
    QList<QGraphicsObject*> out;
    for (auto it = parents_.cbegin(); it != parents_.cend(); ++it) {
        out.append(const_cast<QGraphicsObject*>(it.key()));
    }
    return out;
}

QGraphicsObject* AccessibleTree::parentOf(const QGraphicsObject* item) {
    if (!fresh_) {
        gather();
    }
    if (const auto found = parents_.find(item); found != parents_.end()) {
        return found->data();
    }
    // Not shown: its nearest accessible ancestor, shown or not.
    for (QGraphicsItem* at = item->parentItem(); at != nullptr; at = at->parentItem()) {
        if (QGraphicsObject* above = at->toGraphicsObject(); above && accessibleOf(above)) {
            return above;
        }
    }
    return nullptr;
}

QRect AccessibleTree::screenRect(const QGraphicsItem* item) const {
    if (view_->scene() == nullptr || item->scene() != view_->scene() || !view_->isVisible()) {
        return {};
    }
    const QRectF area = view_->mapToScene(view_->viewport()->rect()).boundingRect();
    if (!shows(item, area)) {
        return {};
    }
    QRectF r = item->boundingRect();
    if (item->isClipped()) {
        r &= item->clipPath().boundingRect();
    }
    const QRect local =
        view_->mapFromScene(item->mapRectToScene(r)).boundingRect() & view_->viewport()->rect();
    return local.translated(view_->viewport()->mapToGlobal(QPoint(0, 0)));
}

} // namespace ostrel
