#include "RepaintThrottle.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

RepaintThrottle::RepaintThrottle(QWidget& window, std::chrono::milliseconds interval)
    : window_(window), interval_(interval) {
    later_.setSingleShot(true);
    later_.setTimerType(Qt::PreciseTimer);
    connect(&later_, &QTimer::timeout, this, [this] { release(); });
    window_.installEventFilter(this);
}

RepaintThrottle::~RepaintThrottle() {
    window_.removeEventFilter(this);
    if (held_)
        release();
}

bool RepaintThrottle::eventFilter(QObject* watched, QEvent* event) {
    if (watched != &window_ || event->type() != QEvent::UpdateRequest)
        return false;
    if (!sinceRepaint_.isValid() || sinceRepaint_.elapsed() >= interval_.count()) {
        sinceRepaint_.start();
        return false;
    }
    // Too soon after the last repaint: the window keeps its request pending (it posts no other
    // one meanwhile) and gets it back when the interval is over.
    if (!held_) {
        held_ = true;
        later_.start(std::max<qint64>(0, interval_.count() - sinceRepaint_.elapsed()));
    }
    return true;
}

void RepaintThrottle::release() {
    held_ = false;
    later_.stop();
    sinceRepaint_.invalidate();
    QCoreApplication::postEvent(&window_, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
}
