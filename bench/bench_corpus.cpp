// Generates the benchmark corpus (see Corpus.h) into a folder, so that it can be built once
// and reused by bench_speed and bench_folder_walk.
//
//   bench_corpus FOLDER

#include "Corpus.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_corpus FOLDER\n");
        return 2;
    }
    QElapsedTimer clock;
    clock.start();
    const QString root = QString::fromLocal8Bit(argv[1]);
    if (!corpus::Make(root))
        return 1;
    std::printf("corpus ready in %s (%.1f s)\n", qPrintable(root), clock.elapsed() / 1000.0);
    return 0;
}
