#include "Application.h"
#include "Form1.h"
#include "Platform.h"
#include "Settings.h"
#include "check/XmlCheck.h"

#include <cstdio>
#include <cstdlib>

namespace {
// Without a display Qt would abort deep inside its start-up; say plainly what is missing.
bool displayAvailable() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb") && !platform.startsWith("wayland"))
        return true;
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}
}  // namespace

int main(int argc, char* argv[]) {
    // Process-wide parser set-up, before any thread could check a file.
    InitXmlChecking();
    if (!displayAvailable()) {
        std::fputs(
            "brellix: no graphical display found (neither DISPLAY nor WAYLAND_DISPLAY is "
            "set).\nBrellix is a desktop program: start it from a desktop session.\n",
            stderr);
        return 1;
    }
    DesktopPlatform platform;
    Application app(argc, argv, platform);
    Application::setApplicationName(QStringLiteral("Brellix"));
    Application::setApplicationVersion(QStringLiteral(BRELLIX_VERSION));
    SettingsStore settings;
    Form1 form(platform, settings, Application::applicationDirPath());
    form.show();
    return Application::exec();
}
