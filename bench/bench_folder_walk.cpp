// The folder scan on a large tree: 100,000 files in 1,000 folders (10 folders of 100
// subfolders, 100 files each). Prints the time of the walk, of the gathering, and of the whole
// "Add All" command in the real window (offscreen), with the longest time the window's event
// loop had to wait meanwhile.
//
//   bench_folder_walk [folder-for-the-tree]   (default: a temporary folder, removed at the end)

#include "Corpus.h"
#include "LoopWatch.h"
#include "files/AddFolder.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

#ifdef BENCH_WITH_WINDOW
#include "FileList.h"
#include "Form1.h"
#include "Settings.h"
#include "tests/support/ScriptedPlatform.h"
#endif

namespace {

class CountingServices final : public WalkServices {
public:
    long pumps = 0;
    bool pumpEvents() override {
        ++pumps;
        QCoreApplication::processEvents();
        return true;
    }
    void reportFailure(const QString& description, const QString&, int number) override {
        std::fprintf(stderr, "failure at %d: %s\n", number, qPrintable(description));
    }
};

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir temp;
    const QString root = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path();
    QElapsedTimer clock;
    if (!QFile::exists(root + QStringLiteral("/top0/sub0/file0.xml"))) {
        clock.start();
        if (!corpus::makeTree(root)) {
            std::fprintf(stderr, "cannot build the tree in %s\n", qPrintable(root));
            return 1;
        }
        std::printf("tree built in %.2f s: %d files in %d folders\n", clock.elapsed() / 1000.0,
                    corpus::kTreeTop * corpus::kTreeSub * corpus::kTreeFiles,
                    1 + corpus::kTreeTop + corpus::kTreeTop * corpus::kTreeSub);
    }

    for (int run = 1; run <= 2; ++run) {
        CountingServices services;
        FolderList folders{root + QStringLiteral("/")};
        clock.start();
        GetSubDirectories2016(folders, true, services);
        const qint64 walkMs = clock.elapsed();
        long rows = 0;
        clock.start();
        GatherFiles(
            folders, QStringLiteral("*.xml"), [&](const QStringList& r) { rows += r.size(); },
            [](int, const QString&) {});
        const qint64 gatherMs = clock.elapsed();
        std::printf(
            "run %d: walk %lld ms (%lld folders, %ld event pumps), gathering %lld ms "
            "(%ld rows)\n",
            run, static_cast<long long>(walkMs), static_cast<long long>(folders.size()),
            services.pumps, static_cast<long long>(gatherMs), rows);
    }

#ifdef BENCH_WITH_WINDOW
    QTemporaryDir settingsDir;
    SettingsStore settings(settingsDir.filePath(QStringLiteral("Halvessa.ini")));
    ScriptedPlatform platform;
    Form1 form(platform, settings, QCoreApplication::applicationDirPath());
    form.show();
    platform.inputAnswers.push_back(QStringLiteral("xml"));
    platform.folderAnswers.push_back(root);
    LoopWatch watch;
    watch.start();
    clock.start();
    form.PushButton3_Click();
    const qint64 commandMs = clock.elapsed();
    watch.stop();
    const auto longest = static_cast<qint64>(watch.longestGapMs());
    std::printf(
        "Add All in the window: %lld ms, %d rows; longest wait of the event loop "
        "%lld ms\n",
        static_cast<long long>(commandMs), form.ListView1->count(),
        static_cast<long long>(longest));
#endif
    return 0;
}
