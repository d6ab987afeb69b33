#include "check/XmlCheck.h"
#include "cli/CheckCommand.h"

#include <QCoreApplication>

int main(int argc, char* argv[]) {
    InitXmlChecking();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("brellix-check"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BRELLIX_VERSION));
    return RunCheckCommand(QCoreApplication::arguments(), stdout, stderr);
}
