#include "tests/support/TestFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString BuildProgramFolder() {
    return QStringLiteral(BRELLIX_PROGRAM_FOLDER);
}

QString TestFolder::write(const QString& name, const QByteArray& content) const {
    const QString file = path(name);
    QDir().mkpath(QFileInfo(file).absolutePath());
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(content) != content.size())
        qFatal("cannot write test file %s", qPrintable(file));
    return file;
}
