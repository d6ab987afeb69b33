// Files of a gigabyte through the real check: the time each takes and the memory it needs, next
// to `xmllint --stream --noout` (with --valid for a document with a DOCTYPE) on the same file in
// the same run. Each file is made in a temporary folder, checked in a child process of its own
// (so that the peak memory is that file's), and removed. The last case is a quarter of the size,
// valid but for its last record: its report must name that record's line.
//
// Usage: bench_hostile_large [size in MB, default 1024]

#include "check/XmlCheck.h"
#include "parse/ParserMemory.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

// Writes `head`, then blocks from `block(i)` until the file holds `size` bytes, then `tail`.
// `lastLine`: the number of the line where the tail begins.
bool makeFile(const QString& path, qint64 size, const QByteArray& head,
              const std::function<QByteArray(int)>& block, const QByteArray& tail,
              qint64& lastLine) {
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(head) != head.size())
        return false;
    qint64 written = head.size();
    lastLine = 1 + head.count('\n');
    for (int i = 0; written < size; ++i) {
        const QByteArray bytes = block(i);
        if (out.write(bytes) != bytes.size())
            return false;
        written += bytes.size();
        lastLine += bytes.count('\n');
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

const QByteArray kRecordsDtd =
    "<!DOCTYPE rows [\n<!ELEMENT rows (row*)>\n"
    "<!ELEMENT row (name, value)>\n<!ATTLIST row id CDATA #REQUIRED>\n"
    "<!ELEMENT name (#PCDATA)>\n<!ELEMENT value (#PCDATA)>\n]>\n";

double seconds(const timeval& t) {
    return t.tv_sec + t.tv_usec / 1e6;
}

// Checks `path` in a child process; prints the time, the verdict, the report's line and reason
// and the peak memory. The wall time in seconds.
double measure(const char* label, const QString& path) {
    std::fflush(stdout);
    QElapsedTimer clock;
    clock.start();
    const pid_t child = ::fork();
    if (child == 0) {
        const CheckResult result = CheckXmlFile(path);
        std::printf("%-44s %8.1f s  %-8s %s", label, clock.nsecsElapsed() / 1e9,
                    result.loaded ? "valid" : "invalid",
                    qPrintable((result.loaded ? QString()
                                              : QStringLiteral("line %1, byte %2: ")
                                                    .arg(result.error.line)
                                                    .arg(result.error.filepos)) +
                               result.error.reason.trimmed() + QLatin1Char('\n')));
        std::fflush(stdout);
        std::_Exit(0);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    const double wall = clock.nsecsElapsed() / 1e9;
    std::printf("%-44s %8.0f MB peak memory, processor %.1f s\n", "", usage.ru_maxrss / 1024.0,
                seconds(usage.ru_utime) + seconds(usage.ru_stime));
    return wall;
}

// The same file through xmllint --stream; the wall time in seconds (-1: could not run).
double measureXmllint(const QString& path, bool valid) {
    std::fflush(stdout);
    QElapsedTimer clock;
    clock.start();
    const QByteArray file = QFile::encodeName(path);
    const pid_t child = ::fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        if (valid)
            ::execlp("xmllint", "xmllint", "--stream", "--noout", "--valid", file.constData(),
                     static_cast<char*>(nullptr));
        else
            ::execlp("xmllint", "xmllint", "--stream", "--noout", file.constData(),
                     static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    const double wall = clock.nsecsElapsed() / 1e9;
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 127)
        return -1;
    std::printf("%-44s %8.1f s  exit %d, %.0f MB peak memory\n",
                valid ? "  xmllint --stream --valid" : "  xmllint --stream", wall,
                WEXITSTATUS(status), usage.ru_maxrss / 1024.0);
    return wall;
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
        qint64 size;
    } cases[] = {
        {"records (a tree ~20 times the file)", "<rows>\n", records, "</rows>\n", size},
        {"records with an internal DTD", kRecordsDtd + "<rows>\n", records, "</rows>\n", size},
        {"the same, a quarter, its last record broken", kRecordsDtd + "<rows>\n", records,
         "<row id=\"last\"><name>abc</name></row>\n</rows>\n", size / 4},
        {"one text node", "<a>", [](int) { return QByteArray(1 << 20, 't'); }, "</a>", size},
        {"blanks before the root element", "", [](int) { return QByteArray(1 << 20, ' '); }, "<a/>",
         size},
        {"comments", "<a>", [](int) { return QByteArray("<!-- c -->").repeated(100000); }, "</a>",
         size},
    };
    for (const auto& c : cases) {
        QElapsedTimer clock;
        clock.start();
        qint64 tailLine = 0;
        if (!makeFile(path, c.size, c.head, c.block, c.tail, tailLine)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        const bool dtd = c.head.startsWith("<!DOCTYPE");
        std::printf("%lld MB made in %.1f s; its last part begins at line %lld\n", c.size >> 20,
                    clock.nsecsElapsed() / 1e9, tailLine);
        const double ours = measure(c.label, path);
        const double lint = measureXmllint(path, dtd);
        if (lint > 0)
            std::printf("%-44s %8.2f x xmllint --stream%s\n", "", ours / lint,
                        dtd ? " --valid" : "");
        QFile::remove(path);
    }
    return 0;
}
