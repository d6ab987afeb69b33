// Speed of the real window (offscreen, scripted dialogs) on the generated corpus (Corpus.h):
// the folder scan ("Add All XML File(s) In Folder") and the checking run ("Start Checking"),
// next to `xmllint --noout` (one process, and `xargs -P 2`), `xmllint --stream --noout` and
// `cat` over the same files in the same run. Prints files/s,
// MB/s, wall time, peak memory, the longest gap between two turns of the event loop (the
// longest time the window could not repaint or react) and how often the progress bar was
// painted; then the medians of all runs, Brellix's time as a ratio of xmllint's and cat's.
//
//   bench_speed [FOLDER] [--runs N] [--parts small,big,tree] [--no-tree-run] [--window-only]
//               [--threads N]
//
// FOLDER holds the corpus (made there when missing; default: a temporary folder, removed at
// the end). Parts: "small" scans and checks 20,000 small files; "big" checks one 100 MB file;
// "tree" scans 100,000 files in 1,000 folders, checks them, clears the input list and starts a
// new run over 100,000 rows while the result lists hold the previous 100,000 (its first event
// loop turn is the pause a user would see; the window is then closed). --no-tree-run skips the
// full check of the tree and fills the result lists directly instead. --window-only lets every
// file "load" without reading it: the run then costs only what the window does per row.
// --threads N sets the run's worker threads (default: one per core).

#include "Corpus.h"
#include "FileList.h"
#include "Form1.h"
#include "LoopWatch.h"
#include "Settings.h"
#include "Widgets.h"
#include "tests/support/ScriptedPlatform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

// Resets the process's peak resident memory (Linux keeps it in VmHWM).
void resetPeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// Processor time of the calling thread (the window's) so far, in seconds.
double threadProcessorSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// Processor time of the whole process (every thread) so far, in seconds.
double processorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double peakMemoryMb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
}

// A fresh window with its own settings and scripted dialogs.
struct Window {
    QTemporaryDir dir;
    ScriptedPlatform platform;
    SettingsStore settings{dir.filePath(QStringLiteral("Halvessa.ini"))};
    std::unique_ptr<Form1> form;

    Window() {
        form = std::make_unique<Form1>(platform, settings, QCoreApplication::applicationDirPath());
        form->show();
        QApplication::processEvents();
    }
};

// Processor time (user + system) of the finished children so far, in seconds.
double childrenProcessorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The wall time and the processor time (of every process it took) of one command, in
// seconds; -1 when it could not run.
struct Timing {
    double wall = -1;
    double processor = -1;
};

// Runs `program` with `arguments` followed by every file, output thrown away: in one process
// when the command line allows and `parallel` is 1, else through xargs (as few processes as
// the limit allows, or `parallel` processes at a time over equal shares of the files).
Timing timeCommand(const QString& program, const QStringList& arguments, const QStringList& files,
                   int parallel = 1) {
    qint64 length = 0;
    for (const QString& f : files)
        length += f.size() + 1;
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QTemporaryFile list;
    QElapsedTimer clock;
    const double processorBefore = childrenProcessorSeconds();
    if (length < 1000000 && parallel == 1) {
        clock.start();
        process.start(program, arguments + files);
    } else {
        if (!list.open())
            return {};
        for (const QString& f : files)
            list.write(QFile::encodeName(f) + '\0');
        list.flush();
        QStringList xargs{QStringLiteral("-0"), QStringLiteral("-a"), list.fileName()};
        if (parallel > 1)
            xargs << QStringLiteral("-P") << QString::number(parallel) << QStringLiteral("-n")
                  << QString::number(std::max<qsizetype>(1, files.size() / (4 * parallel)));
        clock.start();
        process.start(QStringLiteral("xargs"), xargs + QStringList{program} + arguments);
    }
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {clock.nsecsElapsed() / 1e9, childrenProcessorSeconds() - processorBefore};
}

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Figures collected per name over the runs; printed as medians at the end.
std::map<std::string, std::vector<double>> figures;
std::vector<std::string> order;
// --window-only: every file "loads" without being read, so the run measures the window's own
// cost per row.
bool windowOnly = false;
// --threads N: the run's worker threads (default: one per core).
int workerThreads = 0;

void note(const std::string& name, double value) {
    if (!figures.count(name))
        order.push_back(name);
    figures[name].push_back(value);
}

qint64 totalBytes(const QStringList& files) {
    qint64 bytes = 0;
    for (const QString& f : files)
        bytes += QFileInfo(f).size();
    return bytes;
}

// One "Add All" over `folder` in the window; returns the rows added.
int scan(Window& w, const QString& part, const QString& folder) {
    w.platform.inputAnswers.push_back(QStringLiteral("xml"));
    w.platform.folderAnswers.push_back(folder);
    const int before = w.form->ListView1->count();
    LoopWatch watch(w.form->ProgressBar1);
    watch.start();
    w.form->PushButton3_Click();
    const double seconds = watch.stop();
    const int rows = w.form->ListView1->count() - before;
    std::printf("  %s scan: %d rows in %.3f s; longest gap %.1f ms\n", qPrintable(part), rows,
                seconds, watch.longestGapMs());
    note(part.toStdString() + " scan s", seconds);
    note(part.toStdString() + " scan longest gap ms", watch.longestGapMs());
    return rows;
}

// One "Start Checking" in the window over what the input list holds, then xmllint and cat
// over the same files.
void checkRun(Window& w, const QString& part) {
    const QStringList files = w.form->ListView1->texts();
    const double mb = totalBytes(files) / 1e6;
    w.form->checkRunSettings().threads = workerThreads;
    if (windowOnly) {
        w.form->checkRunSettings().check = [](const QString&) {
            CheckResult loaded;
            loaded.loaded = true;
            return loaded;
        };
    }
    timeCommand(QStringLiteral("cat"), {}, files);  // from the page cache, for every contender
    resetPeakMemory();
    LoopWatch watch(w.form->ProgressBar1);
    const double processorBefore = processorSeconds();
    const double windowBefore = threadProcessorSeconds();
    watch.start();
    w.form->PushButton4_Click();
    const double seconds = watch.stop();
    const double processor = processorSeconds() - processorBefore;
    const double windowProcessor = threadProcessorSeconds() - windowBefore;
    const double peak = peakMemoryMb();
    const QString lintProgram = QStringLiteral("xmllint");
    const QString noout = QStringLiteral("--noout");
    const Timing lint = timeCommand(lintProgram, {noout}, files);
    const Timing lintParallel = timeCommand(lintProgram, {noout}, files, 2);
    const Timing lintStream = timeCommand(lintProgram, {noout, QStringLiteral("--stream")}, files);
    const double cat = timeCommand(QStringLiteral("cat"), {}, files).wall;
    const std::string p = part.toStdString();
    std::printf(
        "  %s run: %lld files, %.1f MB in %.3f s (processor %.3f s, window's thread %.3f s): "
        "%.0f files/s, %.1f MB/s; "
        "peak memory %.0f MB;"
        " longest gap %.1f ms; %ld loop turns, %ld bar paints; rows %d valid + %d invalid\n",
        p.c_str(), static_cast<long long>(files.size()), mb, seconds, processor, windowProcessor,
        files.size() / seconds, mb / seconds, peak, watch.longestGapMs(), watch.turns(),
        watch.paints(), w.form->ListView2->count(), w.form->ListView3->count());
    std::printf(
        "  %s xmllint --noout %.3f s (processor %.3f s), xargs -P 2 xmllint %.3f s, "
        "xmllint --stream %.3f s (processor %.3f s), cat %.3f s\n",
        p.c_str(), lint.wall, lint.processor, lintParallel.wall, lintStream.wall,
        lintStream.processor, cat);
    std::printf(
        "  %s Brellix = %.2f x xmllint, %.2f x xargs -P 2 xmllint, %.2f x xmllint "
        "--stream, %.2f x cat; processor %.2f x xmllint's, %.2f x xmllint --stream's\n",
        p.c_str(), seconds / lint.wall, seconds / lintParallel.wall, seconds / lintStream.wall,
        seconds / cat, processor / lint.processor, processor / lintStream.processor);
    note(p + " run s", seconds);
    note(p + " run processor s", processor);
    note(p + " run window thread processor s", windowProcessor);
    note(p + " run files/s", files.size() / seconds);
    note(p + " run MB/s", mb / seconds);
    note(p + " run peak memory MB", peak);
    note(p + " run longest gap ms", watch.longestGapMs());
    note(p + " run bar paints/s", watch.paints() / seconds);
    note(p + " xmllint s", lint.wall);
    note(p + " xmllint processor s", lint.processor);
    note(p + " xargs -P 2 xmllint s", lintParallel.wall);
    note(p + " xmllint --stream s", lintStream.wall);
    note(p + " cat s", cat);
    note(p + " Brellix / xmllint", seconds / lint.wall);
    note(p + " Brellix / xargs -P 2 xmllint", seconds / lintParallel.wall);
    note(p + " Brellix / xmllint --stream", seconds / lintStream.wall);
    note(p + " processor Brellix / xmllint", processor / lint.processor);
    note(p + " processor Brellix / xmllint --stream", processor / lintStream.processor);
    note(p + " Brellix / cat", seconds / cat);
}

void benchSmall(const QString& root) {
    Window w;
    scan(w, QStringLiteral("small"), corpus::smallFolder(root));
    checkRun(w, QStringLiteral("small"));
}

void benchBig(const QString& root) {
    Window w;
    w.form->ListView1->append(corpus::bigFile(root));
    checkRun(w, QStringLiteral("big"));
}

void benchTree(const QString& root, bool fullRun) {
    Window w;
    Form1& form = *w.form;
    scan(w, QStringLiteral("tree"), corpus::treeFolder(root));
    const QStringList rows = form.ListView1->texts();
    if (fullRun) {
        checkRun(w, QStringLiteral("tree"));
    } else {
        form.ListView2->appendAll(rows);
        QApplication::processEvents();
    }

    QElapsedTimer clock;
    clock.start();
    form.PushButton11_Click();
    QApplication::processEvents();
    const double clearMs = clock.nsecsElapsed() / 1e6;
    form.ListView1->appendAll(rows);
    QApplication::processEvents();

    // A new run while the result lists hold the last run's rows: the time until its first
    // event-loop turn is the pause the user sees; then the window is closed, which ends it.
    const int resultRows = form.ListView2->count() + form.ListView3->count();
    LoopWatch watch(form.ProgressBar1);
    QTimer::singleShot(0, &form, [&] { form.close(); });
    watch.start();
    form.PushButton4_Click();
    watch.stop();
    std::printf(
        "  tree: clearing %lld input rows %.1f ms; a new run over them (result lists holding %d "
        "rows) turns the event loop first after %.1f ms\n",
        static_cast<long long>(rows.size()), clearMs, resultRows, watch.firstTurnMs());
    note("tree clear input list ms", clearMs);
    note("tree new run first turn ms", watch.firstTurnMs());
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QString root;
    int runs = 3;
    QStringList parts = {QStringLiteral("small"), QStringLiteral("big"), QStringLiteral("tree")};
    bool treeRun = true;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--runs") && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
        else if (args[i] == QLatin1String("--parts") && i + 1 < args.size())
            parts = args[++i].split(QLatin1Char(','));
        else if (args[i] == QLatin1String("--no-tree-run"))
            treeRun = false;
        else if (args[i] == QLatin1String("--window-only"))
            windowOnly = true;
        else if (args[i] == QLatin1String("--threads") && i + 1 < args.size())
            workerThreads = std::max(0, args[++i].toInt());
        else if (!args[i].startsWith(QLatin1String("--")))
            root = args[i];
        else {
            std::fprintf(stderr,
                         "usage: bench_speed [FOLDER] [--runs N] [--parts small,big,tree] "
                         "[--no-tree-run] [--window-only] [--threads N]\n");
            return 2;
        }
    }
    QTemporaryDir temp;
    if (root.isEmpty())
        root = temp.path();
    if (!corpus::Make(root))
        return 1;
    std::printf("%d core(s); corpus in %s\n", QThread::idealThreadCount(), qPrintable(root));
    for (int run = 1; run <= runs; ++run) {
        std::printf("run %d\n", run);
        if (parts.contains(QLatin1String("small")))
            benchSmall(root);
        if (parts.contains(QLatin1String("big")))
            benchBig(root);
        if (parts.contains(QLatin1String("tree")))
            benchTree(root, treeRun);
        std::fflush(stdout);
    }
    std::printf("medians of %d run(s):\n", runs);
    for (const std::string& name : order)
        std::printf("  %-34s %10.3f\n", name.c_str(), median(figures[name]));
    return 0;
}
