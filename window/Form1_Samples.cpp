// "Load Sample/Example Files": four sample files from the program folder into the input list,
// and, if the user wants, each of them opened in the desktop's plain-text editor.

#include "FileList.h"
#include "Form1.h"

namespace {

void openInTextEditor(Platform& platform, const QString& file) {
    QString error;
    if (!platform.openInTextEditor(file, &error))
        throw StepFailure(error);
}

}  // namespace

void Form1::PushButton7_Click() {
    Guard guard = guardOf(QStringLiteral("PushButton7_Click"));
    const QString samples = programFolder() + QStringLiteral("/Samples/");
    const QString valid1 = samples + QStringLiteral("valid_sample1.xml");
    const QString valid2 = samples + QStringLiteral("valid_sample2.xml");
    const QString invalid1 = samples + QStringLiteral("invalid_sample1.xml");
    const QString invalid2 = samples + QStringLiteral("invalid_sample2.xml");

    guard.step(100, [&] { ListView1->append(valid1); });
    guard.step(102, [&] { ListView1->append(valid2); });
    guard.step(104, [&] { ListView1->append(invalid1); });
    guard.step(106, [&] { ListView1->append(invalid2); });
    // A failing question counts as answered: the editors are still started.
    bool view = true;
    guard.step(108, [&] {
        view = MsgBox(QStringLiteral("Would you like to view these files in Notepad so that you "
                                     "can see the actual content first?"),
                      MessageButtons::YesNo) == MessageAnswer::Yes;
    });
    if (!view)
        return;
    guard.step(110, [&] { openInTextEditor(platform(), invalid2); });
    guard.step(112, [&] { openInTextEditor(platform(), invalid1); });
    guard.step(114, [&] { openInTextEditor(platform(), valid2); });
    guard.step(116, [&] { openInTextEditor(platform(), valid1); });
}
