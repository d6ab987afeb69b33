#pragma once
// What a window test needs around Form1: the scratch folder (TestFolder.h), a scripted
// platform, a settings store in a temporary file, and a program folder (the build's, or a
// temporary one the test fills itself).

#include "Form1.h"
#include "Settings.h"
#include "tests/support/ScriptedPlatform.h"
#include "tests/support/TestFolder.h"

#include <memory>

struct TestEnv : TestFolder {
    ScriptedPlatform platform;
    SettingsStore settings;

    TestEnv();
    // A new window over this environment; program folder by default the build's.
    std::unique_ptr<Form1> makeForm(const QString& programFolder = BuildProgramFolder());
};
