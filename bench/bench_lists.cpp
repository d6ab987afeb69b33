// How long the lists take with 100,000 rows: appending one by one and at once, scrolling to
// the end, selecting, removing, clearing; all with the window shown (offscreen by default).

#include "BenchPlatform.h"
#include "FileList.h"
#include "Form1.h"
#include "Settings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int kRows = 100000;

double settle(QElapsedTimer& timer) {
    QApplication::processEvents();
    return timer.nsecsElapsed() / 1e6;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    BenchPlatform platform;
    SettingsStore settings(dir.filePath("settings.ini"));
    Form1 form(platform, settings, dir.path());
    form.show();
    QApplication::processEvents();

    QStringList paths;
    for (int i = 0; i < kRows; ++i)
        paths
            << QStringLiteral("/home/user/projects/data/batch-%1/file-%2.xml").arg(i / 1000).arg(i);

    FileList& list = *form.ListView1;
    QElapsedTimer timer;
    timer.start();
    for (const QString& p : paths)
        list.append(p);
    std::printf("append %d rows one by one:   %8.1f ms\n", kRows, settle(timer));

    timer.restart();
    list.scrollIntoView(kRows);
    list.select(kRows);
    std::printf("scroll to and select the last: %7.1f ms\n", settle(timer));

    timer.restart();
    for (int i = 0; i < 100; ++i)
        list.remove(1);
    std::printf("remove the first row 100 times: %6.1f ms\n", settle(timer));

    timer.restart();
    list.clear();
    std::printf("clear %d rows:               %8.1f ms\n", kRows - 100, settle(timer));

    timer.restart();
    list.appendAll(paths);
    std::printf("append %d rows at once:      %8.1f ms\n", kRows, settle(timer));

    timer.restart();
    form.ListView3->appendAll(
        QStringList(kRows / 10, QStringLiteral("/x/bad.xml - Your XML Document "
                                               "failed to loaddue the following "
                                               "error.\r\nError #: 76: ...")));
    std::printf("append %d report rows at once: %6.1f ms\n", kRows / 10, settle(timer));

    timer.restart();
    list.clear();
    form.ListView3->clear();
    std::printf("clear both:                     %6.1f ms\n", settle(timer));
    return 0;
}
