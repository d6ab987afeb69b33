// Figures for saving a result list and adding files through the open dialog: a list of
// 100,000 rows saved through the window (one event pump per row), and the file writing alone.

#include "FileList.h"
#include "results/ResultFile.h"
#include "tests/support/TestEnv.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPushButton>

#include <sys/resource.h>
#include <cstdio>

namespace {

long peakKilobytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

QStringList paths(int count, int width) {
    QStringList rows;
    rows.reserve(count);
    for (int i = 0; i < count; ++i)
        rows.append(QStringLiteral("/home/user/data/batch/%1.xml").arg(i, width, 10, QChar('0')));
    return rows;
}

// Saves one list through its "Save Results" button and prints the time and the file's size.
void timeSave(TestEnv& env, QPushButton* button, const QString& file, const char* what) {
    env.platform.saveAnswers.push_back(file);
    QElapsedTimer timer;
    timer.start();
    button->click();
    std::printf("%s: %lld ms, %lld bytes\n", what, static_cast<long long>(timer.elapsed()),
                static_cast<long long>(QFileInfo(file).size()));
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    TestEnv env;
    auto form = env.makeForm();
    const int rows = 100000;

    const QStringList valid = paths(rows, 8);
    QElapsedTimer timer;
    timer.start();
    {
        ResultFileWriter writer(env.path("plain.txt"));
        writer.open();
        for (const QString& row : valid)
            writer.writeRow(row);
        writer.commit();
    }
    std::printf("file writing alone, %d rows: %lld ms, %lld bytes\n", rows,
                static_cast<long long>(timer.elapsed()),
                static_cast<long long>(QFileInfo(env.path("plain.txt")).size()));

    form->ListView2->appendAll(valid);
    timeSave(env, form->PushButton6, env.path("valid.txt"),
             "Save Results through the window, 100,000 rows");

    // Invalid rows carrying a long report (validation messages run to thousands of
    // characters).
    QStringList invalid;
    const QString report = QStringLiteral(" - Error Number: -1\r\nReason: ") +
                           QString(2000, QChar('r')) +
                           QStringLiteral(
                               "\r\nLine: 1\r\nPosition: 1\r\nFile Position: 0\r\n"
                               "Source Text: <a>");
    for (const QString& path : valid)
        invalid.append(path + report);
    form->ListView3->appendAll(invalid);
    timeSave(env, form->PushButton1, env.path("invalid.txt"),
             "Save Results, 100,000 invalid rows with 2 KB reports");

    // The most files one use of the open dialog can add: names of 9 characters in one folder.
    QStringList chosen;
    for (int i = 0; i < 2999; ++i)
        chosen.append(QStringLiteral("/data/%1.xml").arg(i, 5, 10, QChar('0')));
    env.platform.openAnswers.push_back(chosen);
    timer.restart();
    form->PushButton5->click();
    std::printf("Add XML File(s), %d files: %lld ms\n", static_cast<int>(chosen.size()),
                static_cast<long long>(timer.elapsed()));
    std::printf("peak memory: %ld MB\n", peakKilobytes() / 1024);
    return env.platform.messageTexts().isEmpty() ? 0 : 1;
}
