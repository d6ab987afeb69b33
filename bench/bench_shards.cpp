// brellix-check across a fleet, on one machine: a tree of small files (200,000 by default, in
// 1,000 folders, one in 50 invalid) checked by one run, and by N shards (8 by default) run side
// by side whose json outputs are then merged; prints the wall times and whether the merged
// output equals the single run's, in json and in SARIF.
//
//   bench_shards [--files N] [--shards N]

#include "tests/support/CoreTestEnv.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

QString program() {
    return BuildProgramFolder() + "/brellix-check";
}

// Runs brellix-check in `folder`, standard output to `out`; the wall time.
double timedRun(const QStringList& arguments, const QString& folder, const QString& out) {
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setStandardOutputFile(out);
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(program(), arguments);
    process.waitForFinished(-1);
    return clock.nsecsElapsed() / 1e9;
}

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int files = 200000;
    int shards = 8;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--files")
            files = std::max(100, args[i + 1].toInt());
        if (args[i] == "--shards")
            shards = std::max(1, args[i + 1].toInt());
    }
    TestEnv env;
    const QString tree = env.path("tree");
    for (int i = 0; i < files; ++i)
        env.write(QString("tree/d%1/f%2.xml").arg(i % 1000).arg(i),
                  i % 50 ? QByteArray("<doc n='") + QByteArray::number(i) + "'><a>text</a></doc>\n"
                         : QByteArray("<doc><a>text</doc>\n"));
    const QString out = env.path("out");
    QDir().mkpath(out);

    const double single = timedRun({"--format", "json", "."}, tree, out + "/single.json");
    timedRun({"--format", "sarif", "."}, tree, out + "/single.sarif");

    // The shards side by side, as runners of one CI job would run them.
    QElapsedTimer clock;
    clock.start();
    std::vector<std::unique_ptr<QProcess>> running;
    QStringList parts;
    for (int k = 1; k <= shards; ++k) {
        auto process = std::make_unique<QProcess>();
        process->setWorkingDirectory(tree);
        const QString part = out + QString("/part-%1.json").arg(k);
        process->setStandardOutputFile(part);
        process->setStandardErrorFile(QProcess::nullDevice());
        process->start(program(), {"--format", "json", "-j", "1", "--shard",
                                   QString("%1/%2").arg(k).arg(shards), "."});
        running.push_back(std::move(process));
        parts.append(part);
    }
    for (const auto& process : running)
        process->waitForFinished(-1);
    const double sharded = clock.nsecsElapsed() / 1e9;
    const double merge =
        timedRun(QStringList{"merge", "--format", "json"} + parts, tree, out + "/merged.json");
    timedRun(QStringList{"merge", "--format", "sarif"} + parts, tree, out + "/merged.sarif");

    const bool sameJson = contentOf(out + "/single.json") == contentOf(out + "/merged.json");
    const bool sameSarif = contentOf(out + "/single.sarif") == contentOf(out + "/merged.sarif");
    std::printf("%d files in 1,000 folders, one in 50 invalid:\n", files);
    std::printf("  one run                          %.2f s\n", single);
    std::printf("  %d shards side by side (-j 1)    %.2f s  (%.2f x one run)\n", shards, sharded,
                sharded / single);
    std::printf("  merging their json outputs       %.2f s\n", merge);
    std::printf("  merged output equals one run's: json %s, sarif %s\n", sameJson ? "yes" : "NO",
                sameSarif ? "yes" : "NO");
    return sameJson && sameSarif ? 0 : 1;
}
