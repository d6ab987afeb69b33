#pragma once
// What a window test needs around Form1: a scripted platform, a settings store in a temporary
// file, and a program folder (the build's, or a temporary one the test fills itself).

#include "Form1.h"
#include "Settings.h"
#include "tests/support/ScriptedPlatform.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>

// The build's program folder, holding the data files copied beside the program.
QString BuildProgramFolder();

struct TestEnv {
    QTemporaryDir dir;  // scratch space of the test, removed at the end
    ScriptedPlatform platform;
    SettingsStore settings;

    TestEnv();
    // A path inside the scratch folder.
    QString path(const QString& name) const { return dir.filePath(name); }
    // Writes a file (folders created as needed) and returns its path.
    QString write(const QString& name, const QByteArray& content) const;
    // A new window over this environment; program folder by default the build's.
    std::unique_ptr<Form1> makeForm(const QString& programFolder = BuildProgramFolder());
};
