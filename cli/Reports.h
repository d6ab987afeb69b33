#pragma once
// The machine-readable forms of a check's results.

#include "CheckCommand.h"
#include "check/XmlCheck.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// One checked file as the command line reports it.
struct FileVerdict {
    QString path;
    CheckResult result;
    QString row;         // the row the window would add: the path, or path, " - " and the report
    QString unreadable;  // why the file named on the command line cannot be read (empty: it can)
    double seconds = 0;  // how long its check took
    // In a shard: the file's place among all the files of the run (for merging the shards).
    qsizetype position = -1;
};

// What a report says of the run itself: the shard it is, when it is one.
struct RunFacts {
    int shard = 0;  // from 1; 0: the whole run
    int shards = 0;
    bool bySize = false;
};

// The libxml2 release that this process runs on ("2.9.14").
QString LibxmlVersionInUse();

// The files that the folder scans left out, by reason.
struct SkippedFiles {
    int hidden = 0;       // names starting with "."
    int tilde = 0;        // names starting with "~" (editors' backups and lock files)
    int notOpenable = 0;  // not a regular file that can be opened (FIFO, socket, no permission)
    int total() const { return hidden + tilde + notOpenable; }
};

// The errors to report for a file: none when it loaded; the first error and, when more were
// collected, the later ones; a failed check as one error with code 0.
QList<ParseErrorReport> ErrorsOf(const FileVerdict& verdict);

// A JSON document: {"files": [{"path", "valid", "error": {...}, "report"}...], "summary": {...}}.
// With `allErrors` every file with errors also carries "errors": [...]; "seconds" is in the
// summary only when given; `onlyInvalid` lists only the files that are not valid.
// `cached`: how many of the verdicts came from the cache.
// "run" names the program, the libxml2 it ran on and the shard; a shard's files carry their
// "index" among all the files.
QByteArray JsonReport(const QList<FileVerdict>& verdicts, const SkippedFiles& skipped,
                      std::optional<double> seconds, bool allErrors, bool onlyInvalid,
                      int cached = 0, const RunFacts& facts = {});
// What the reports made whole at the end of a run need besides the verdicts.
struct FinishedRun {
    SkippedFiles skipped;
    std::optional<double> jsonSeconds;  // the run time, for json (--timing)
    double seconds = 0;
    QDateTime started;
    bool allErrors = false;
    bool onlyInvalid = false;  // --quiet
    bool withReport = false;   // --report
    int cached = 0;
    bool successful = true;  // no trouble (SARIF's executionSuccessful)
    RunFacts facts;
};
// The report in `format` that is made at the end (json, junit, sarif, gitlab); empty for the
// others.
QByteArray FinishedReport(OutputFormat format, const QList<FileVerdict>& verdicts,
                          const FinishedRun& run);
// The whole report in `format`: the lines of every verdict, then the report made at the end.
QByteArray WholeReport(OutputFormat format, const QList<FileVerdict>& verdicts,
                       const FinishedRun& run);

// What a verdict adds to a report that is written as the run goes (text, gnu, github); empty
// for the others, which are made whole at the end.
QString StreamedLines(OutputFormat format, const FileVerdict& verdict, bool withReport, bool quiet,
                      bool colour);
// A JUnit XML document: one test case per file (with its file, line and time), a failure for
// each invalid file, an error for each file that could not be read or checked.
QByteArray JunitReport(const QList<FileVerdict>& verdicts, double seconds,
                       const QDateTime& timestamp);
// A SARIF 2.1.0 log: one run, one rule per error code, one result per error.
QByteArray SarifReport(const QList<FileVerdict>& verdicts, bool executionSuccessful,
                       const RunFacts& facts = {});
// One line per error, "PATH:LINE:COLUMN: error: MESSAGE" (the GNU form); nothing for a valid
// file.
// The line that ends the text output: how many files, valid, invalid and skipped, and the time.
QString TextSummary(const QList<FileVerdict>& verdicts, const SkippedFiles& skipped,
                    double seconds);
// The Markdown that --format github appends to the job's summary ($GITHUB_STEP_SUMMARY): the
// counts, then the invalid files with their first error, at most kStepSummaryRows of them and
// how many more.
inline constexpr int kStepSummaryRows = 50;
QString GithubStepSummary(const QList<FileVerdict>& verdicts, const SkippedFiles& skipped);
// GitLab's Code Quality report: a JSON array with one issue per error (description, check_name,
// a fingerprint that stays while the finding does, severity, location.path relative to the
// working folder where it can be, location.lines.begin).
QByteArray GitlabReport(const QList<FileVerdict>& verdicts);
QString GnuLines(const FileVerdict& verdict);
// One GitHub Actions "::error file=...,line=...,col=...::MESSAGE" command per error.
QString GithubLines(const FileVerdict& verdict);
// The text line of a file after its verdict: the path, and with `withReport` for an invalid
// file " - " and the report (its lines broken with LF), with every character from the file's
// name or text that could act on a terminal made visible (see Visible).
QString TextLine(const FileVerdict& verdict, bool withReport);
