#include "Ostrel/Model/WheelSample.h"

#include <QWheelEvent>

namespace ostrel {

WheelSample WheelSample::from(const QWheelEvent& event) {
    WheelSample sample;
    const QPoint pixels = event.pixelDelta();
    if (!pixels.isNull()) {
        sample.precise = true;
        sample.delta = QPointF(pixels);
    } else {
        sample.delta = QPointF(event.angleDelta()) / 120.0;
    }
    switch (event.phase()) {
    case Qt::NoScrollPhase:
        break;
    case Qt::ScrollBegin:
        sample.phase = Phase::began;
        break;
    case Qt::ScrollUpdate:
        sample.phase = Phase::changed;
        break;
    case Qt::ScrollEnd:
        sample.phase = Phase::ended;
        break;
    case Qt::ScrollMomentum:
        sample.momentum = Momentum::active;
        break;
    }
    sample.timestamp = double(event.timestamp()) / 1000.0;
    return sample;
}

} // namespace ostrel
