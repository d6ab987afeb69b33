// What brellix-check --cache saves: 20,000 small files, then 2,000 files of 60 KB (in each,
// 1,000 small ones valid against one shared external DTD) checked without the cache, then with it
// (the first run fills it, the next one reuses it), next to `xargs -P 2 xmllint --noout` over the
// same files, in the same run. Then the shared DTD is edited: the run after that checks exactly its
// 1,000 documents again.
//
//   bench_cache [--runs N] [--files N]
//
// The files are written and then set an hour back, as a checkout made earlier leaves them; a
// second figure shows the run right after the files were rewritten with the same content
// (every file's digest is then computed, since its time cannot be trusted).

#include "tests/support/CoreTestEnv.h"
#include "tests/support/RunCheck.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <sys/stat.h>
#include <sys/time.h>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

struct Timed {
    double seconds = 0;
    int cached = 0;
    int checked = 0;
};

Timed timedCheck(const QStringList& arguments, const QString& folder) {
    Start start;
    start.folder = folder;
    QElapsedTimer clock;
    clock.start();
    const Run run = check(arguments, start);
    Timed timed;
    timed.seconds = clock.nsecsElapsed() / 1e9;
    const QJsonObject summary = QJsonDocument::fromJson(run.out.toUtf8())["summary"].toObject();
    timed.cached = summary["cached"].toInt();
    timed.checked = summary["checked"].toInt();
    if (run.status != 0)
        std::fprintf(stderr, "brellix-check exited with %d: %s\n", run.status, qPrintable(run.err));
    return timed;
}

double timedShell(const QString& command, const QString& folder) {
    QProcess shell;
    shell.setWorkingDirectory(folder);
    QElapsedTimer clock;
    clock.start();
    shell.start("sh", {"-c", command});
    shell.waitForFinished(-1);
    return clock.nsecsElapsed() / 1e9;
}

void ageTree(const QString& folder) {
    const timeval old[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
    QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Files))
        ::utimes(QFile::encodeName(dir.filePath(name)).constData(), old);
}

// The figures of one corpus: `files` documents made by `document`, the first 1,000 of them
// valid against the shared DTD.
void measure(int runs, int files, const std::function<QByteArray(int)>& document) {
    TestEnv env;
    const QString tree = env.path("tree");
    QDir().mkpath(tree);
    env.write("tree/shared.dtd",
              "<!ELEMENT doc ANY>\n<!ATTLIST doc n CDATA #IMPLIED>\n"
              "<!ELEMENT a ANY>\n");
    qint64 bytes = 0;
    for (int i = 0; i < files; ++i) {
        const QByteArray content = i < 1000 ? "<!DOCTYPE doc SYSTEM 'shared.dtd'>\n<doc n='" +
                                                  QByteArray::number(i) + "'><a>text</a></doc>\n"
                                            : document(i);
        bytes += content.size();
        env.write("tree/f" + QByteArray::number(i) + ".xml", content);
    }
    ageTree(tree);
    const QString cache = env.path("cache");
    const QStringList plain{"--no-config", "--format", "json", "."};
    const QStringList cached{
        "--cache", "--cache-location", cache, "--no-config", "--format", "json", "."};
    QStringList names;
    for (int i = 0; i < files; ++i)
        names.append("f" + QString::number(i) + ".xml");
    env.write("list.txt", names.join('\n').toUtf8() + '\n');
    const QStringList listed{"--no-config", "--format", "json", "--files-from",
                             env.path("list.txt")};
    const QStringList listedCached = QStringList{"--cache", "--cache-location", cache} + listed;
    std::vector<double> xmllint, fresh, filling, reusing, rewritten, listFresh, listReusing;
    for (int r = 0; r < runs; ++r) {
        QFile::remove(cache + "/verdicts");
        xmllint.push_back(timedShell(
            "find . -name '*.xml' -print0 | xargs -0 -P 2 -n 1000 xmllint --noout", tree));
        fresh.push_back(timedCheck(plain, tree).seconds);
        filling.push_back(timedCheck(cached, tree).seconds);
        const Timed second = timedCheck(cached, tree);
        reusing.push_back(second.seconds);
        if (second.cached != files)
            std::printf("the second run took %d of %d from the cache\n", second.cached, files);
        listFresh.push_back(timedCheck(listed, tree).seconds);
        timedCheck(listedCached, tree);  // fills the cache for the paths as listed
        listReusing.push_back(timedCheck(listedCached, tree).seconds);
    }
    // Rewritten with the same content (times just now): every file is digested, then reused.
    for (int r = 0; r < runs; ++r) {
        for (int i = 1000; i < files; ++i)
            env.write("tree/f" + QByteArray::number(i) + ".xml", document(i));
        rewritten.push_back(timedCheck(cached, tree).seconds);
        ageTree(tree);
        timedCheck(cached, tree);  // the digests confirmed, the times are trusted again
    }
    std::printf("%d files, %.1f MB, %d runs, medians (wall time, s):\n", files, bytes / 1e6, runs);
    std::printf("  xargs -P 2 xmllint --noout      %.3f\n", median(xmllint));
    std::printf("  brellix-check                   %.3f\n", median(fresh));
    std::printf("  --cache, first run (fills it)   %.3f  (%.2f x without the cache)\n",
                median(filling), median(filling) / median(fresh));
    std::printf("  --cache, second run             %.3f  (%.3f x the first run, %.3f x xmllint)\n",
                median(reusing), median(reusing) / median(filling),
                median(reusing) / median(xmllint));
    std::printf("  the files listed (--files-from) instead of the folder walked:\n");
    std::printf("    brellix-check                 %.3f\n", median(listFresh));
    std::printf("    --cache, second run           %.3f  (%.3f x, %.3f x xmllint)\n",
                median(listReusing), median(listReusing) / median(listFresh),
                median(listReusing) / median(xmllint));
    std::printf("  --cache, files just rewritten   %.3f  (%.3f x the first run)\n",
                median(rewritten), median(rewritten) / median(filling));
    env.write("tree/shared.dtd",
              "<!ELEMENT doc ANY>\n<!ATTLIST doc n NMTOKEN #REQUIRED>\n"
              "<!ELEMENT a ANY>\n");
    const Timed edited = timedCheck(cached, tree);
    std::printf("  after the shared DTD was edited: %d checked again, %d from the cache (%.3f s)\n",
                edited.checked, edited.cached, edited.seconds);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int runs = 3;
    int files = 20000;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--runs")
            runs = std::max(1, args[i + 1].toInt());
        if (args[i] == "--files")
            files = std::max(1000, args[i + 1].toInt());
    }
    measure(runs, files, [](int i) {
        return "<?xml version='1.0'?>\n<doc n='" + QByteArray::number(i) + "'><a>text</a></doc>\n";
    });
    // Documents of the size a project holds: 60 KB each.
    QByteArray body;
    for (int k = 0; k < 1200; ++k)
        body += "<item id='i" + QByteArray::number(k) + "'><name>n</name><v>" +
                QByteArray::number(k) + "</v></item>\n";
    measure(runs, std::max(2000, files / 10), [&](int i) {
        return "<?xml version='1.0'?>\n<doc n='" + QByteArray::number(i) + "'>\n" + body +
               "</doc>\n";
    });
    return 0;
}
