#include "CheckCommand.h"
#include "VisibleText.h"
#include "check/XmlCheck.h"
#include "files/PathUtil.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[]) {
    // What the check skipped without changing a verdict (a catalog entry that names a remote
    // catalog) is told on standard error, once, from whichever worker met it.
    SetXmlCheckWarningHandler([](const QString& warning) {
        const QByteArray line = "brellix-check: warning: " + Visible(warning).toLocal8Bit() + "\n";
        std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stderr);
    });
    InitXmlChecking();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("brellix-check"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BRELLIX_VERSION));
    // The arguments with their bytes kept: a path whose name is not UTF-8 text still names its
    // file (QCoreApplication::arguments() would put U+FFFD in place of such bytes).
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(PathFromBytes(argv[i]));
    return RunCheckCommand(arguments, stdout, stderr);
}
