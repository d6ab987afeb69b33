#pragma once
// Watches a checking run from inside its event pump, as a person looking at the window would.
// The run lets events run once per row, and more often while it waits for a slow file's
// verdict: `seen` holds one entry per row shown (the first pump that shows it), and the
// actions run at the first pump of row n (counted from 1) and at every pump.

#include "FileList.h"
#include "Form1.h"
#include "Widgets.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

struct Seen {
    int value;
    QString text;
    WindowPointer pointer;
    int validRows;
    int invalidRows;
    bool operator==(const Seen&) const = default;
};

class PumpWatcher {
public:
    explicit PumpWatcher(Form1& form, std::function<void(int row)> atRow = {},
                         std::function<void()> atEveryPump = {})
        : form_(form), atRow_(std::move(atRow)), atEveryPump_(std::move(atEveryPump)) {
        timer_.setInterval(0);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            ++pumps;
            const Seen now{form_.ProgressBar1->value(), form_.ProgressBar1->text(),
                           form_.windowPointer(), form_.ListView2->count(),
                           form_.ListView3->count()};
            if (seen.isEmpty() || !(seen.constLast() == now)) {
                seen.append(now);
                if (atRow_)
                    atRow_(static_cast<int>(seen.size()));
            }
            if (atEveryPump_)
                atEveryPump_();
        });
        timer_.start();
    }
    QList<Seen> seen;
    int pumps = 0;

private:
    Form1& form_;
    std::function<void(int)> atRow_;
    std::function<void()> atEveryPump_;
    QTimer timer_;
};
