// The stacks drawer's tests share these: sessions of turns of pictures, and the pointer and tips
// over the drawer the rig shows.
#pragma once

#include "DrawerRig.h"

#include <QGraphicsView>

#include <algorithm>

namespace ostrel::test {

// A session of turns with `sizes` items each (the first turn newest), ids "<session><turn>-<n>".
inline void addSession(Snapshot& s, const QString& id, double at, const QList<int>& sizes) {
    s.sessions.append(Session(id, std::nullopt, "/work/" + id, "main", Date(at), Date(at + 10)));
    for (qsizetype t = 0; t < sizes.size(); ++t) {
        const QString prompt = id + QString::number(t);
        const double when = at + 1000 - double(t) * 10;
        s.prompts.append(Prompt{prompt, id, Date(when), "Turn " + prompt});
        for (int n = 0; n < sizes[t]; ++n) {
            s.items.append(item(prompt + "-" + QString::number(n), id, prompt, when + 5 - n));
        }
    }
}

// "alpha" with turns of 1, 3 and 5 items, "beta" with one of 2.
inline Snapshot twoSessions() {
    Snapshot s;
    addSession(s, "alpha", 799990000, {1, 3, 5});
    addSession(s, "beta", 799980000, {2});
    return s;
}

inline QPoint viewPoint(DrawerRig& rig, QPointF scenePoint) {
    return rig.view.mapFromScene(scenePoint);
}

// The tips over the open stacks drawer: a layer drawing them inside the drawer, which the scene
// keeps, and tips allowed on the drawer's display.
inline TipLayer* showTips(DrawerRig& rig) {
    auto* layer = new TipLayer(rig.tips, DrawerRig::display, rig.clock);
    rig.scene.addItem(layer);
    layer->setBounds(QRectF(104 + 8, 8, 880 - 16, 176 - 16));
    rig.model->tips().canShow = [](quint32 display) { return display == DrawerRig::display; };
    return layer;
}

// The pointer rests on a point of the scene for a while.
inline void rest(DrawerRig& rig, QPointF scenePoint, double seconds) {
    rig.tips->pointerMoved(
        rig.view.viewport()->mapToGlobal(rig.view.mapFromScene(scenePoint)).toPointF(), true);
    rig.clock->advance(seconds);
}

// Pixels of a picture's noise or of the accent in a patch; the drawer's greys are not colourful.
inline int colourful(const QImage& image, const QRect& patch) {
    int n = 0;
    for (int y = patch.top(); y <= patch.bottom(); ++y) {
        for (int x = patch.left(); x <= patch.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            n += std::max({c.red(), c.green(), c.blue()}) -
                             std::min({c.red(), c.green(), c.blue()}) >
                         60
                     ? 1
                     : 0;
        }
    }
    return n;
}

} // namespace ostrel::test
