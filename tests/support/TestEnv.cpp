#include "tests/support/TestEnv.h"

TestEnv::TestEnv() : settings(dir.filePath(QStringLiteral("settings/Halvessa.ini"))) {}

std::unique_ptr<Form1> TestEnv::makeForm(const QString& programFolder) {
    return std::make_unique<Form1>(platform, settings, programFolder);
}
