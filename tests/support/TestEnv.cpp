#include "tests/support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString BuildProgramFolder() {
    return QStringLiteral(BRELLIX_PROGRAM_FOLDER);
}

TestEnv::TestEnv() : settings(dir.filePath(QStringLiteral("settings/Halvessa.ini"))) {}

QString TestEnv::write(const QString& name, const QByteArray& content) const {
    const QString file = path(name);
    QDir().mkpath(QFileInfo(file).absolutePath());
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(content) != content.size())
        qFatal("cannot write test file %s", qPrintable(file));
    return file;
}

std::unique_ptr<Form1> TestEnv::makeForm(const QString& programFolder) {
    return std::make_unique<Form1>(platform, settings, programFolder);
}
