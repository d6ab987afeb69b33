#pragma once
// The longest time the window could not repaint while a command runs.

#include <QElapsedTimer>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QWidget>

#include <algorithm>

// Watches the event loop while a command runs: a zero timer fires once per turn of the loop.
// Also counts the progress bar's paints, the frames a user could have seen.
class LoopWatch : public QObject {
public:
    // `painted` (if any) has its paints counted.
    explicit LoopWatch(QWidget* painted = nullptr) : painted_(painted) {
        timer_.setInterval(0);
        connect(&timer_, &QTimer::timeout, this, [this] {
            const qint64 now = clock_.nsecsElapsed();
            if (turns_++ == 0)
                firstTurn_ = now;
            longest_ = std::max(longest_, now - last_);
            last_ = now;
        });
        if (painted_)
            painted_->installEventFilter(this);
    }
    ~LoopWatch() override {
        if (painted_)
            painted_->removeEventFilter(this);
    }

    void start() {
        clock_.start();
        last_ = 0;
        timer_.start();
    }
    // Stops and returns the wall time in seconds; the time after the last turn counts as a gap.
    double stop() {
        timer_.stop();
        const qint64 end = clock_.nsecsElapsed();
        longest_ = std::max(longest_, end - last_);
        return end / 1e9;
    }
    double longestGapMs() const { return longest_ / 1e6; }
    double firstTurnMs() const { return turns_ > 0 ? firstTurn_ / 1e6 : -1; }
    long turns() const { return turns_; }
    long paints() const { return paints_; }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints_;
        return false;
    }

private:
    QWidget* painted_;
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
    qint64 firstTurn_ = 0;
    long turns_ = 0;
    long paints_ = 0;
};
