#pragma once
// What every test needs: a scratch folder removed at the end, files written into it, and the
// build's program folder. Core tests use it alone (CoreTestEnv.h); the window's tests get the
// window around it (TestEnv.h).

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// The build's program folder, holding the programs and the data files copied beside them.
QString BuildProgramFolder();

struct TestFolder {
    QTemporaryDir dir;  // scratch space of the test, removed at the end
    // A path inside the scratch folder.
    QString path(const QString& name) const { return dir.filePath(name); }
    // Writes a file (folders created as needed) and returns its path.
    QString write(const QString& name, const QByteArray& content) const;
};
