#pragma once
// The machine-readable forms of a check's results.

#include "check/XmlCheck.h"

#include <QByteArray>
#include <QList>
#include <QString>

// One checked file as the command line reports it.
struct FileVerdict {
    QString path;
    CheckResult result;
    QString row;  // the row the window would add: the path, or path, " - " and the report
};

// A JSON document: {"files": [{"path", "valid", "error": {...}, "report"}...], "summary": {...}}.
QByteArray JsonReport(const QList<FileVerdict>& verdicts, double seconds);
// A JUnit XML document: one test case per file, a failure for each invalid file.
QByteArray JunitReport(const QList<FileVerdict>& verdicts, double seconds);
