// "Add All XML File(s) In Folder": every file of a chosen extension in a folder tree.

#include "FileList.h"
#include "Form1.h"
#include "Settings.h"
#include "WindowWalkServices.h"
#include "files/AddFolder.h"
#include "files/PathUtil.h"

#include <QElapsedTimer>

namespace {

// The folder chooser: the chosen folder's path, or an empty text on Cancel (and for a path
// too long for the file system).
QString BrowseForFolder(Platform& platform, QWidget* owner, const QString& title,
                        const QString& startFolder) {
    QString chosen = platform.chooseFolder(owner, title, startFolder);
    const qsizetype nul = chosen.indexOf(QChar(0));
    if (nul >= 0)
        chosen.truncate(nul);
    return EncodedPath(chosen).isEmpty() ? QString() : chosen;
}

}  // namespace

void Form1::PushButton3_Click() {
    // One scan at a time: while the window is busy (a scan, a checking run, saving) the button
    // does nothing, as the hourglass says.
    if (IsBusy())
        return;
    Guard guard = guardOf(QStringLiteral("PushButton3_Click"));
    const QString extensionKey = QStringLiteral("Extension");
    const QString folderKey = QStringLiteral("LastFolder");

    QString extension;
    guard.step(100, [&] {
        const QString stored = settings().read(extensionKey, QStringLiteral("xml"));
        extension = platform().inputBox(
            this,
            QStringLiteral("Enter file extension to load:\r\r(* for all files, txt for all txt "
                           "files, doc for all doc files, etc.)"),
            ApplicationTitle, stored);
        if (!extension.isEmpty())
            settings().write(extensionKey, extension);
    });
    if (guard.test(102, [&] { return extension.isEmpty(); }))
        return;
    guard.step(104, [&] { settings().write(extensionKey, extension); });

    QString lastFolder;
    QString chosen;
    guard.step(106, [&] {
        lastFolder = settings().read(folderKey, QString());
        chosen =
            BrowseForFolder(platform(), this, QStringLiteral("Please select folder:"), lastFolder);
    });
    if (guard.test(108, [&] { return chosen.isEmpty(); }))
        return;
    guard.step(333, [&] { lastFolder = chosen; });
    guard.step(334, [&] { settings().write(folderKey, lastFolder); });
    guard.step(110, [&] { SetWindowPointer(WindowPointer::Busy); });

    FolderList folders;
    guard.step(112, [&] { folders = FolderList{chosen + NativeSeparator()}; });
    bool closed = false;
    guard.step(114, [&] {
        WindowWalkServices services(*this);
        closed = !GetSubDirectories2016(folders, true, services);
    });
    if (closed)
        return;  // the window is gone: nothing more to show

    // The gathering reports its own failures per folder and per file and goes on. Between
    // parts of rows it lets events run, at most every 20 ms (a tree of 100,000 files takes
    // half a second to gather); closing the window stops it.
    struct WindowClosed {};
    QElapsedTimer sincePump;
    sincePump.start();
    guard.step(116, [&] {
        try {
            GatherFiles(
                folders, QStringLiteral("*.") + extension,
                [&](const QStringList& rows) {
                    guard.step(128, [&] { ListView1->appendAll(rows); });
                    if (sincePump.elapsed() < 20)
                        return;
                    if (!PumpEvents())
                        throw WindowClosed{};
                    sincePump.restart();
                },
                [&](int number, const QString& description) { guard.report(number, description); });
        } catch (const WindowClosed&) {
            closed = true;
        }
    });
    if (closed)
        return;
    guard.step(132, [&] { SetWindowPointer(WindowPointer::Default); });
}
