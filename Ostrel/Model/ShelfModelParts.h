#pragma once

// What the files that make up ShelfModel share; nothing outside the model includes this.
//   ShelfModel.cpp          the engine's life, published state and the snapshot road
//   ShelfModelCommands.cpp  hide, delete and delete-all with undo
//   ShelfModelPointer.cpp   opening and closing, pointer and wheel, drag-out, anchors
//   ShelfModelMenus.cpp     the header's menus and the filters
//   ShelfModelSelection.cpp clicks, keys, selection and item actions

#include "Ostrel/Model/ShelfModel.h"
#include "OstrelCore/Display/Motion.h"

#include <QUrl>

namespace ostrel {

// Names the curve the changes announced within its lifetime should animate with.
class ShelfModel::Animating {
public:
    Animating(ShelfModel& model, Motion::Curve curve) : model_(model), saved_(model.animation_) {
        model_.animation_ = curve;
    }
    ~Animating() { model_.animation_ = saved_; }
    Animating(const Animating&) = delete;
    Animating& operator=(const Animating&) = delete;

private:
    ShelfModel& model_;
    Motion::Curve saved_;
};

namespace shelfModelParts {

template <typename T> bool assign(T& member, const T& value) {
    if (member == value) {
        return false;
    }
    member = value;
    return true;
}

inline Motion::Context motionContext(double scale) {
    return {scale, Motion::reduceMotion(), Motion::increaseContrast()};
}

// A remote link is handed to the opener only when it is a web address: a transcript could name
// anything, a local program included.
inline bool isWebAddress(const QUrl& url) {
    return url.isValid() && (url.scheme() == u"https" || url.scheme() == u"http");
}

} // namespace shelfModelParts
} // namespace ostrel
