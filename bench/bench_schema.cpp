// Checking against an XML Schema: brellix-check --schema over the 20,000 small files of the
// corpus (Corpus.h) next to `xargs -P 2 xmllint --noout --schema` over the same files in the
// same run, and the peak memory of one 100 MB document against the schema. Prints each run's
// wall time and peak memory, then the medians and brellix-check's time as a ratio of xmllint's.
//
//   bench_schema [FOLDER] [--runs N] [--threads N]
//
// FOLDER holds the corpus (made there when missing; default: a temporary folder, removed at
// the end). --threads: brellix-check's -j (default 2, as xargs -P 2).

#include "Corpus.h"
#include "tests/support/TestFolder.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

// The schema of the corpus's catalogs.
constexpr char kCatalogXsd[] = R"(<?xml version="1.0"?>
<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema">
  <xs:element name="catalog">
    <xs:complexType>
      <xs:sequence>
        <xs:element name="book" minOccurs="0" maxOccurs="unbounded">
          <xs:complexType>
            <xs:sequence>
              <xs:element name="title" type="xs:string"/>
              <xs:element name="author" type="xs:string"/>
              <xs:element name="price" type="xs:decimal"/>
            </xs:sequence>
            <xs:attribute name="id" type="xs:string" use="required"/>
          </xs:complexType>
        </xs:element>
      </xs:sequence>
    </xs:complexType>
    <xs:key name="bookId">
      <xs:selector xpath="book"/>
      <xs:field xpath="@id"/>
    </xs:key>
  </xs:element>
</xs:schema>
)";

struct Figures {
    double seconds = 0;
    double peakMb = 0;
    int status = -1;
};

// Runs `argv` (output to /dev/null) and measures its wall time and the peak memory of the
// largest process it ran.
Figures run(const std::vector<std::string>& argv) {
    std::fflush(stdout);  // or the child would print what is still buffered
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    Figures figures;
    int status = 0;
    rusage usage{};
    if (child > 0 && ::wait4(child, &status, 0, &usage) == child) {
        figures.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        figures.peakMb = usage.ru_maxrss / 1024.0;
    }
    figures.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return figures;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int runs = 3;
    QString threads = QStringLiteral("2");
    QString folder;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--runs") && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
        else if (args[i] == QLatin1String("--threads") && i + 1 < args.size())
            threads = args[++i];
        else
            folder = args[i];
    }
    QTemporaryDir scratch;
    if (folder.isEmpty())
        folder = scratch.path();
    if (!corpus::Make(folder))
        return 1;
    const QString schema = folder + QStringLiteral("/catalog.xsd");
    const QString list = folder + QStringLiteral("/small-files.txt");
    QByteArray names;
    QDirIterator it(corpus::smallFolder(folder), {QStringLiteral("*.xml")}, QDir::Files,
                    QDirIterator::Subdirectories);
    QStringList files;
    while (it.hasNext())
        files << it.next();
    files.sort();
    for (const QString& f : files)
        names += QFile::encodeName(f) + '\0';
    if (!corpus::writeFile(schema, kCatalogXsd) || !corpus::writeFile(list, names))
        return 1;

    const std::string program =
        (BuildProgramFolder() + QStringLiteral("/brellix-check")).toStdString();
    const std::string s = schema.toStdString();
    const std::vector<std::string> brellix{
        program,        "--schema",        s, "-j", threads.toStdString(), "--quiet", "-0",
        "--files-from", list.toStdString()};
    const std::vector<std::string> xmllint{"sh", "-c",
                                           "xargs -0 -P 2 -n 1000 xmllint --noout --schema '" + s +
                                               "' < '" + list.toStdString() + "'"};

    std::printf("%d small files against one XML Schema, %d runs (brellix-check -j %s)\n",
                static_cast<int>(files.size()), runs, qPrintable(threads));
    std::vector<double> ours;
    std::vector<double> theirs;
    for (int r = 0; r < runs; ++r) {
        const Figures b = run(brellix);
        const Figures x = run(xmllint);
        std::printf(
            "  run %d: brellix-check %7.3f s (%4.0f MB, status %d)   xargs -P 2 xmllint "
            "%7.3f s (%4.0f MB, status %d)   ratio %.2f\n",
            r + 1, b.seconds, b.peakMb, b.status, x.seconds, x.peakMb, x.status,
            b.seconds / x.seconds);
        std::fflush(stdout);
        ours.push_back(b.seconds);
        theirs.push_back(x.seconds);
    }
    std::printf("  median: brellix-check %.3f s, xmllint %.3f s, ratio %.2f\n", median(ours),
                median(theirs), median(ours) / median(theirs));

    // The key keeps every book's id for the document's end: memory that grows with the
    // document whatever the engine, so the large document is also checked without it.
    QByteArray withoutKey(kCatalogXsd);
    withoutKey.remove(withoutKey.indexOf("    <xs:key"),
                      withoutKey.indexOf("</xs:key>") + 10 - withoutKey.indexOf("    <xs:key"));
    const QString plain = folder + QStringLiteral("/catalog-no-key.xsd");
    if (!corpus::writeFile(plain, withoutKey))
        return 1;
    const std::string big = corpus::bigFile(folder).toStdString();
    for (const std::string& schemaFile : {s, plain.toStdString()}) {
        const Figures b = run({program, "--schema", schemaFile, big});
        const Figures x = run({"xmllint", "--noout", "--stream", "--schema", schemaFile, big});
        std::printf(
            "one 100 MB document against %s: brellix-check %.3f s, %.0f MB peak "
            "(status %d); xmllint --stream %.3f s, %.0f MB peak (status %d)\n",
            QFileInfo(QString::fromStdString(schemaFile)).fileName().toUtf8().constData(),
            b.seconds, b.peakMb, b.status, x.seconds, x.peakMb, x.status);
    }
    return 0;
}
