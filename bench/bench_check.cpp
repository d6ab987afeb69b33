// Checking many small files through the real window (offscreen by default): total time, time
// per file, the longest gap between two turns of the event loop during the run, and the same
// files through CheckXmlFile alone and through `xmllint --noout` for comparison.
//
// Usage: [BENCH_CHECK1=1] bench_check [number of files, default 2000]
// BENCH_CHECK1=1 ticks the option, so invalid rows carry the whole report.

#include "BenchPlatform.h"
#include "FileList.h"
#include "Form1.h"
#include "LoopWatch.h"
#include "Settings.h"
#include "Widgets.h"
#include "check/XmlCheck.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

QByteArray sampleFile(int i) {
    const QByteArray n = QByteArray::number(i);
    switch (i % 4) {
        case 0:  // well-formed
            return "<?xml version=\"1.0\"?>\n<order id=\"" + n + "\">\n  <item sku=\"a\">" +
                   QByteArray("text ").repeated(20) + "</item>\n  <item sku=\"b\"/>\n</order>\n";
        case 1:  // valid against an internal DTD
            return "<?xml version=\"1.0\"?>\n<!DOCTYPE order [<!ELEMENT order (item+)>"
                   "<!ELEMENT item (#PCDATA)><!ATTLIST item sku CDATA #REQUIRED>]>\n<order>"
                   "<item sku=\"" +
                   n + "\">one</item><item sku=\"x\">two</item></order>\n";
        case 2:  // not well-formed
            return "<?xml version=\"1.0\"?>\n<order>\n  <item>" + n + "</itemx>\n</order>\n";
        default:  // invalid against its DTD
            return "<?xml version=\"1.0\"?>\n<!DOCTYPE order [<!ELEMENT order (item+)>"
                   "<!ELEMENT item EMPTY>]>\n<order><item>" +
                   n + "</item></order>\n";
    }
}

double seconds(const QElapsedTimer& t) {
    return t.nsecsElapsed() / 1e9;
}

}  // namespace

int main(int argc, char* argv[]) {
    InitXmlChecking();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 2000;

    QTemporaryDir dir;
    QStringList files;
    for (int i = 0; i < count; ++i) {
        const QString path =
            dir.filePath(QStringLiteral("f%1.xml").arg(i, 5, 10, QLatin1Char('0')));
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(sampleFile(i)) < 0)
            return 1;
        files << path;
    }

    BenchPlatform platform;
    SettingsStore settings(dir.filePath("settings.ini"));
    Form1 form(platform, settings, dir.path());
    form.show();
    QApplication::processEvents();
    form.ListView1->appendAll(files);
    form.Check1->setValue(qEnvironmentVariableIntValue("BENCH_CHECK1"));

    LoopWatch watch;
    QElapsedTimer run;
    run.start();
    watch.start();
    form.PushButton4_Click();
    watch.stop();
    const double windowSeconds = seconds(run);

    run.restart();
    int loaded = 0;
    for (const QString& f : files)
        loaded += CheckXmlFile(f).loaded ? 1 : 0;
    const double plainSeconds = seconds(run);

    QProcess xmllint;
    run.restart();
    xmllint.start(QStringLiteral("xmllint"), QStringList{QStringLiteral("--noout")} + files);
    const bool lintRan = xmllint.waitForFinished(600000);
    const double lintSeconds = seconds(run);

    std::printf("files: %d (valid %d, invalid %d; %d box(es): %s)\n", count,
                form.ListView2->count(), form.ListView3->count(),
                static_cast<int>(platform.messages.size()),
                qPrintable(platform.messages.join(QStringLiteral(" | "))));
    std::printf("through the window:   %7.3f s  (%6.1f us per file)\n", windowSeconds,
                windowSeconds * 1e6 / count);
    std::printf("CheckXmlFile alone:   %7.3f s  (%6.1f us per file, %d loaded)\n", plainSeconds,
                plainSeconds * 1e6 / count, loaded);
    if (lintRan)
        std::printf("xmllint --noout:      %7.3f s  (one process for all files)\n", lintSeconds);
    else
        std::printf("xmllint --noout:      not run (%s)\n", qPrintable(xmllint.errorString()));
    std::printf("event-loop turns during the run: %ld; longest gap: %.2f ms\n", watch.turns(),
                watch.longestGapMs());
    return 0;
}
