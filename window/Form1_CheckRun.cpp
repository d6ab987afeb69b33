// "Start Checking": checks every row of the input list.
//
// The parsing runs on worker threads (a CheckQueue), a bounded number of rows ahead of the
// row the run has reached; everything the user sees happens on the window's thread, row by
// row and in input order, exactly as if each file were checked there: the bar is set, events
// run once, the option is read, and the row is filed. A row whose text changed after it was
// handed to a worker (the user reordered the list) is checked anew with its current text.
// While a file's verdict is not ready (a large file), events run in slices so that the window
// stays alive; repainting is coalesced to a frame rate for the whole run.

#include "FileList.h"
#include "FileListModel.h"
#include "Form1.h"
#include "RepaintThrottle.h"
#include "RunMark.h"
#include "Widgets.h"
#include "files/PathUtil.h"
#include "parse/ParserMemory.h"
#include "project/ProjectChecks.h"
#include "results/ResultRow.h"
#include "running/CheckQueue.h"

#include <QThreadPool>
#include <QtMath>

#include <functional>
#include <memory>
#include <optional>

namespace {

// The workers of one run. When the run ends because the window was closed, they are handed to
// the window instead of being waited for: the run returns at once, and a check still running
// (a large file) finishes unseen before the window itself is destroyed.
class RunWorkers final : public QObject {
public:
    explicit RunWorkers(std::unique_ptr<CheckQueue> queue) : queue(std::move(queue)) {}
    std::unique_ptr<CheckQueue> queue;
};

class WorkersOfRun {
public:
    explicit WorkersOfRun(Form1& form) : form_(form) {}
    ~WorkersOfRun() {
        if (form_.unloaded() && workers_)
            workers_.release()->setParent(&form_);
    }
    WorkersOfRun(const WorkersOfRun&) = delete;
    WorkersOfRun& operator=(const WorkersOfRun&) = delete;

    void start(const CheckRunSettings& settings) {
        const int threads = WorkerThreadCount(settings.threads);
        workers_ = std::make_unique<RunWorkers>(
            std::make_unique<CheckQueue>(threads, threads * std::max(1, settings.aheadPerThread),
                                         settings.check, settings.options));
    }
    CheckQueue* queue() { return workers_ ? workers_->queue.get() : nullptr; }

    // The run is over: no worker is checking anything, but one may still be freeing the tree
    // of a large file whose verdict is filed already. The workers end in the background, and
    // the memory the run's checks freed then goes back to the system.
    void finish() {
        std::shared_ptr<CheckQueue> queue(workers_ ? std::move(workers_->queue) : nullptr);
        workers_.reset();
        QThreadPool::globalInstance()->start([queue = std::move(queue)]() mutable {
            queue.reset();
            ReleaseFreedParserMemory();
        });
    }

private:
    Form1& form_;
    std::unique_ptr<RunWorkers> workers_;
};

// The result lists take their rows in batches while the run lasts: the views are told of new
// rows ten times a second instead of once a row (count() and text() have every row at once).
class BatchedRows {
public:
    BatchedRows(FileList& valid, FileList& invalid) : lists_{&valid, &invalid} {
        for (FileList* list : lists_)
            list->model().setBatching(true);
    }
    ~BatchedRows() {
        for (FileList* list : lists_)
            list->model().setBatching(false);
    }
    BatchedRows(const BatchedRows&) = delete;
    BatchedRows& operator=(const BatchedRows&) = delete;

private:
    FileList* lists_[2];
};

// The valid and the invalid list as the place where a checked file is filed; `noteInvalid`
// learns each invalid row that has a report.
class ResultLists final : public ResultRowSink {
public:
    ResultLists(FileList& valid, FileList& invalid,
                std::function<void(const QString& row)> noteInvalid)
        : valid_(valid), invalid_(invalid), noteInvalid_(std::move(noteInvalid)) {}
    void appendValid(const QString& row) override { valid_.append(row); }
    void appendInvalid(const QString& row) override {
        invalid_.append(row);
        noteInvalid_(row);
    }

private:
    FileList& valid_;
    FileList& invalid_;
    std::function<void(const QString& row)> noteInvalid_;
};

// The settings of a run: with schemas, each check on a worker (or here) is made with them; with
// a project, each file is checked by its rules.
CheckRunSettings withSchemas(const CheckRunSettings& settings,
                             std::shared_ptr<const SchemaSet> schemas,
                             std::shared_ptr<const ProjectChecks> project) {
    CheckRunSettings run = settings;
    if (schemas)
        run.options.schemas = std::move(schemas);
    if (project)
        run.check = [project, options = run.options](const QString& path) {
            return project->check(path, options);
        };
    return run;
}

// Checks `path` on this thread (when no worker could be started).
CheckResult checkHere(const CheckRunSettings& settings, const QString& path) {
    try {
        return settings.check ? settings.check(path) : CheckXmlFile(path, settings.options);
    } catch (...) {
        return FailedCheckResult();
    }
}

// The verdict on `path`, the file of the row the run has reached. Lets events run in slices
// until it is ready; nothing when the window was closed meanwhile.
std::optional<CheckResult> verdictOf(Form1& form, OrderedChecks& checks, const QString& path) {
    return checks.verdictFor(path, [&form] {
        if (!form.PumpEvents())
            return false;
        form.SetWindowPointer(WindowPointer::Busy);
        return true;
    });
}

}  // namespace

void Form1::PushButton4_Click() {
    // A click while a run waits in its event pump would start a second run inside the first
    // and leave mixed rows behind: it is ignored.
    if (checkRunActive_)
        return;
    const RunMark mark(checkRunActive_);
    Guard guard = guardOf(QStringLiteral("PushButton4_Click"));

    if (guard.test(100, [this] { return ListView1->count() == 0; })) {
        guard.step(136, [this] { MsgBox(QStringLiteral("No XML(s) added.")); });
        return;
    }
    guard.step(102, [this] { ListView2->clear(); });
    guard.step(104, [this] {
        ListView3->clear();
        invalidRows_.clear();
    });
    guard.step(106, [this] { SetWindowPointer(WindowPointer::Busy); });
    int count = 0;
    guard.step(108, [&] { count = ListView1->count(); });
    // Should no worker thread start, the files are checked here, one at a time.
    const CheckRunSettings settings = withSchemas(checkRunSettings_, runSchemas_, runProject_);
    WorkersOfRun workers(*this);
    guard.step(108, [&] { workers.start(settings); });
    CheckQueue* const queue = workers.queue();
    std::optional<OrderedChecks> checks;
    if (queue)
        checks.emplace(*queue);
    std::optional<RepaintThrottle> throttle(std::in_place, *this);
    std::optional<BatchedRows> batchedRows(std::in_place, *ListView2, *ListView3);

    int handedOut = 0;  // rows 1 .. handedOut have been given to the workers
    for (int i = 1; i <= count; ++i) {
        // Rows cannot be removed while the window is busy; should they be gone all the same,
        // there is nothing left to check.
        if (i > ListView1->count())
            break;
        // The workers get rows in batches (see OrderedChecks).
        if (checks) {
            guard.step(110, [&] {
                const int last = std::min(count, ListView1->count());
                checks->refill([&]() -> std::optional<QString> {
                    if (handedOut >= last)
                        return std::nullopt;
                    return ListView1->text(++handedOut);
                });
            });
        }
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

        std::optional<CheckResult> result;
        if (queue) {
            result = verdictOf(*this, *checks, path);
            if (!result || unloaded())
                return;
        } else {
            result = checkHere(settings, path);
        }
        // The option is read for each file just before its row is filed.
        const bool showErrors = guard.test(120, [this] { return Check1->value() == 1; });
        guard.step(showErrors ? 122 : 124, [&] {
            ResultLists lists(*ListView2, *ListView3, [&](const QString& row) {
                if (!result->loaded && result->failedStep == 0)
                    invalidRows_.insert(row, {path, result->error});
            });
            FileCheckResult(path, *result, lists, showErrors, errorBox());
        });
        if (unloaded())
            return;
    }
    batchedRows.reset();
    throttle.reset();
    workers.finish();
    guard.step(128, [this] { SetWindowPointer(WindowPointer::Default); });
    guard.step(130, [this] { ProgressBar1->setValue(0); });
    guard.step(132, [this] { ProgressBar1->setText(QStringLiteral("Progress Bar")); });
    guard.step(134, [this] { MsgBox(QStringLiteral("Done.")); });
}
