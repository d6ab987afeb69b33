// "Start Checking": checks every row of the input list.
//
// Each file's parse is one call of CheckXmlFile (inside ValidateXML2), which touches no
// widget; everything the user sees (the bar, the pump, the option, the row) happens around it
// on the window's thread. A parse that moves to a worker can hand its CheckResult to
// FileCheckResult at the same place without changing the rows or their order.

#include "app/Form1.h"
#include "app/PathUtil.h"
#include "app/Widgets.h"
#include "check/Validate2.h"
#include "lists/FileList.h"

#include <QtMath>

namespace {

// Marks a run as in progress for as long as it lives.
class RunMark {
public:
    explicit RunMark(bool& flag) : flag_(flag) { flag_ = true; }
    ~RunMark() { flag_ = false; }
    RunMark(const RunMark&) = delete;
    RunMark& operator=(const RunMark&) = delete;

private:
    bool& flag_;
};

}  // namespace

void Form1::PushButton4_Click() {
    // A click while a run waits in its event pump would start a second run inside the first
    // and leave mixed rows behind: it is ignored.
    if (checkRunActive)
        return;
    const RunMark mark(checkRunActive);
    Guard guard = guardOf(QStringLiteral("PushButton4_Click"));

    if (guard.test(100, [this] { return ListView1->count() == 0; })) {
        guard.step(136, [this] { MsgBox(QStringLiteral("No XML(s) added.")); });
        return;
    }
    guard.step(102, [this] { ListView2->clear(); });
    guard.step(104, [this] { ListView3->clear(); });
    guard.step(106, [this] { SetWindowPointer(WindowPointer::Busy); });
    int count = 0;
    guard.step(108, [&] { count = ListView1->count(); });
    for (int i = 1; i <= count; ++i) {
        // Rows cannot be removed while the window is busy; should they be gone all the same,
        // there is nothing left to check.
        if (i > ListView1->count())
            break;
        QString path;
        guard.step(110, [&] { path = ListView1->text(i); });
        guard.step(112, [&] {
            const double share = i * 100.0 / ListView1->count();
            ProgressBar1->setValue(qRound(share));
        });
        guard.step(
            114, [&] { ProgressBar1->setText(QStringLiteral("Processing: ") + FileNameOf(path)); });
        bool windowOpen = true;
        guard.step(116, [&] { windowOpen = PumpEvents(); });
        if (!windowOpen || unloaded())
            return;  // the window was closed: the program is ending
        guard.step(118, [this] { SetWindowPointer(WindowPointer::Busy); });
        const bool showErrors = guard.test(120, [this] { return Check1->value() == 1; });
        guard.step(showErrors ? 122 : 124, [&] {
            ValidateXML2(path, *ListView2, *ListView3, showErrors, platform(), this);
        });
        if (unloaded())
            return;
    }
    guard.step(128, [this] { SetWindowPointer(WindowPointer::Default); });
    guard.step(130, [this] { ProgressBar1->setValue(0); });
    guard.step(132, [this] { ProgressBar1->setText(QStringLiteral("Progress Bar")); });
    guard.step(134, [this] { MsgBox(QStringLiteral("Done.")); });
}
