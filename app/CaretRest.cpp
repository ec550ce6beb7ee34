#include "app/CaretRest.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QStyleHints>

namespace camwarden {

CaretRest::CaretRest(std::chrono::milliseconds after)
    : flashTime_(QGuiApplication::styleHints()->cursorFlashTime()) {
    idle_.setSingleShot(true);
    idle_.setInterval(after);
    connect(&idle_, &QTimer::timeout, this, &CaretRest::Rest);
    QCoreApplication::instance()->installEventFilter(this);
    idle_.start();
}

CaretRest::~CaretRest() {
    QCoreApplication::instance()->removeEventFilter(this);
    if (resting_) QGuiApplication::styleHints()->setCursorFlashTime(flashTime_);
}

void CaretRest::Rest() {
    if (flashTime_ <= 0) return;  // the desktop has it steady already
    resting_ = true;
    QGuiApplication::styleHints()->setCursorFlashTime(0);
}

bool CaretRest::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::MouseButtonPress:
        case QEvent::InputMethod:
        case QEvent::Wheel:
            if (resting_) {
                resting_ = false;
                QGuiApplication::styleHints()->setCursorFlashTime(flashTime_);
            }
            idle_.start();
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace camwarden
