#pragma once
// Bounds what repainting costs a long loop that lets window events run after every item.
// Qt repaints a window when its posted update request is handled; while a throttle lives, at
// most one such repaint per interval goes through and the others are held back, their dirty
// areas collected, until the interval is over. Everything else (input, timers, the pointer)
// runs at every pass of the pump as before: only painting is coalesced to a frame rate.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <chrono>

class QWidget;

class RepaintThrottle final : public QObject {
public:
    // 25 ms: 40 frames a second, smooth for a progress bar and a growing list.
    explicit RepaintThrottle(QWidget& window,
                             std::chrono::milliseconds interval = std::chrono::milliseconds(25));
    // Lets a repaint that is held back through at once.
    ~RepaintThrottle() override;
    RepaintThrottle(const RepaintThrottle&) = delete;
    RepaintThrottle& operator=(const RepaintThrottle&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void release();

    QWidget& window_;
    std::chrono::milliseconds interval_;
    QElapsedTimer sinceRepaint_;
    QTimer later_;
    bool held_ = false;
};
