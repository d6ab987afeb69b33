#pragma once
// Runs brellix-check as a separate program, the way scripts and CI run it.

#include "tests/support/CoreTestEnv.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdlib>

struct Run {
    int status = -1;
    QString out;
    QString err;
};

// How a run is started, beyond its arguments.
struct Start {
    QByteArray input;         // standard input (closed after it)
    QString folder;           // the working folder (default: the test's)
    QString outFile;          // standard output to this file instead of a pipe
    QString errFile;          // standard error likewise
    QStringList environment;  // added NAME=VALUE settings
    QString program = "brellix-check";
};

inline Run check(const QStringList& arguments, const Start& start = {}) {
    QProcess process;
    process.setProgram(start.program == "brellix-check" ? BuildProgramFolder() + "/brellix-check"
                                                        : start.program);
    process.setArguments(arguments);
    if (!start.folder.isEmpty())
        process.setWorkingDirectory(start.folder);
    if (!start.outFile.isEmpty())
        process.setStandardOutputFile(start.outFile);
    if (!start.errFile.isEmpty())
        process.setStandardErrorFile(start.errFile);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("NO_COLOR");
    for (const QString& setting : start.environment)
        environment.insert(setting.section('=', 0, 0), setting.section('=', 1));
    process.setProcessEnvironment(environment);
    process.start();
    process.write(start.input);
    process.closeWriteChannel();
    if (!process.waitForFinished(120000))
        qFatal("brellix-check did not finish");
    Run run;
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}
