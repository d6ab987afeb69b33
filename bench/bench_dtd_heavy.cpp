// Documents that are heavy on one start tag or on their DTD, through CheckXmlFile and through
// xmllint in the same run: one element of many attributes or namespace declarations, many
// attribute defaults, a choice of many element names, many IDs. Prints the time of each, the
// verdict, and the ratio to xmllint (--valid where the document has a DTD).
//
// Usage: bench_dtd_heavy [scale in percent, default 100]

#include "check/XmlCheck.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

struct Document {
    const char* label;
    int count;
    bool hasDtd;
    std::function<QByteArray(int)> make;
};

QByteArray numbered(int count, const char* form) {
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += QByteArray(form).replace("#", QByteArray::number(i));
    return out;
}

double seconds(const QElapsedTimer& t) {
    return t.nsecsElapsed() / 1e9;
}

}  // namespace

int main(int argc, char* argv[]) {
    InitXmlChecking();
    const int scale = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    const auto scaled = [scale](int n) { return std::max(1, n / 100 * scale); };
    const Document documents[] = {
        {"one element, attributes", 100000, false,
         [](int n) { return "<a" + numbered(n, " a#=\"v\"") + "/>\n"; }},
        {"one element, namespace declarations", 100000, false,
         [](int n) { return "<a" + numbered(n, " xmlns:p#=\"urn:x#\"") + "/>\n"; }},
        {"attribute defaults", 100000, true,
         [](int n) {
             return "<!DOCTYPE a [<!ELEMENT a EMPTY><!ATTLIST a" + numbered(n, " d# CDATA \"v\"") +
                    ">]>\n<a/>\n";
         }},
        {"choice of element names", 10000, true,
         [](int n) {
             QByteArray choice = numbered(n, "|e#").mid(1);
             return "<!DOCTYPE a [<!ELEMENT a (" + choice + ")*>" +
                    numbered(n, "<!ELEMENT e# EMPTY>") + "]>\n<a>" + numbered(n, "<e#/>") +
                    "</a>\n";
         }},
        {"IDs", 1000000, true,
         [](int n) {
             return "<!DOCTYPE a [<!ELEMENT a (b*)><!ELEMENT b EMPTY>"
                    "<!ATTLIST b id ID #REQUIRED>]>\n<a>\n" +
                    numbered(n, "<b id=\"i#\"/>\n") + "</a>\n";
         }},
    };

    QTemporaryDir dir;
    std::printf("%-38s %9s %8s %10s %10s %7s\n", "document", "count", "verdict", "check s",
                "xmllint s", "ratio");
    for (const Document& d : documents) {
        const int n = scaled(d.count);
        const QString path = dir.filePath(QStringLiteral("doc.xml"));
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(d.make(n)) < 0)
            return 1;
        out.close();

        QElapsedTimer clock;
        clock.start();
        const CheckResult result = CheckXmlFile(path);
        const double checkSeconds = seconds(clock);

        QProcess xmllint;
        QStringList arguments{QStringLiteral("--noout")};
        if (d.hasDtd)
            arguments << QStringLiteral("--valid");
        clock.restart();
        xmllint.start(QStringLiteral("xmllint"), arguments << path);
        const bool ran =
            xmllint.waitForFinished(-1) && xmllint.exitStatus() == QProcess::NormalExit;
        const double lintSeconds = seconds(clock);

        std::printf("%-38s %9d %8s %10.2f ", d.label, n, result.loaded ? "valid" : "invalid",
                    checkSeconds);
        if (ran)
            std::printf("%10.2f %7.2f\n", lintSeconds, checkSeconds / lintSeconds);
        else
            std::printf("%10s\n", "not run");
        if (!result.loaded)
            std::printf("    %s\n", qPrintable(result.error.reason.trimmed()));
        std::fflush(stdout);
    }
    return 0;
}
