// Files of a gigabyte through the real check: the time each takes and the memory it needs.
// Each file is made in a temporary folder, checked in a child process of its own (so that the
// peak memory is that file's), and removed.
//
// Usage: bench_hostile_large [size in MB, default 1024]

#include "check/ParserMemory.h"
#include "check/XmlCheck.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

// Writes `head`, then blocks from `block(i)` until the file holds `size` bytes, then `tail`.
bool makeFile(const QString& path, qint64 size, const QByteArray& head,
              const std::function<QByteArray(int)>& block, const QByteArray& tail) {
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(head) != head.size())
        return false;
    qint64 written = head.size();
    for (int i = 0; written < size; ++i) {
        const QByteArray bytes = block(i);
        if (out.write(bytes) != bytes.size())
            return false;
        written += bytes.size();
    }
    return out.write(tail) == tail.size();
}

QByteArray records(int i) {
    QByteArray chunk;
    for (int k = 0; k < 1000; ++k)
        chunk += "<row id=\"" + QByteArray::number(i * 1000 + k) +
                 "\"><name>abc</name><value>42</value></row>\n";
    return chunk;
}

void measure(const char* label, const QString& path) {
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child == 0) {
        QElapsedTimer clock;
        clock.start();
        const CheckResult result = CheckXmlFile(path);
        std::printf("%-44s %8.1f s  %-8s %s", label, clock.nsecsElapsed() / 1e9,
                    result.loaded ? "valid" : "invalid",
                    qPrintable(result.error.reason.trimmed() + QLatin1Char('\n')));
        std::fflush(stdout);
        std::_Exit(0);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    std::printf("%-44s %8.0f MB peak memory\n", "", usage.ru_maxrss / 1024.0);
}

}  // namespace

int main(int argc, char* argv[]) {
    InitXmlChecking();
    const qint64 megabytes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1024;
    const qint64 size = megabytes << 20;
    QTemporaryDir dir;
    const QString path = dir.filePath("large.xml");
    std::printf("limit of the parser's memory per file: %zu MB\n", ParserMemoryLimit() >> 20);

    const struct {
        const char* label;
        QByteArray head;
        std::function<QByteArray(int)> block;
        QByteArray tail;
    } cases[] = {
        {"records (a tree ~20 times the file)", "<rows>\n", records, "</rows>\n"},
        {"one text node", "<a>", [](int) { return QByteArray(1 << 20, 't'); }, "</a>"},
        {"blanks before the root element", "", [](int) { return QByteArray(1 << 20, ' '); },
         "<a/>"},
        {"comments", "<a>", [](int) { return QByteArray("<!-- c -->").repeated(100000); }, "</a>"},
    };
    for (const auto& c : cases) {
        QElapsedTimer clock;
        clock.start();
        if (!makeFile(path, size, c.head, c.block, c.tail)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("%lld MB made in %.1f s\n", megabytes, clock.nsecsElapsed() / 1e9);
        measure(c.label, path);
        QFile::remove(path);
    }
    return 0;
}
