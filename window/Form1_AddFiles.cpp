// "Add XML File(s)": files chosen in the open dialog.

#include "FileList.h"
#include "Form1.h"
#include "files/OpenDialogResult.h"

void Form1::PushButton5_Click() {
    Guard guard = guardOf(QStringLiteral("PushButton5_Click"));
    const QString title = QStringLiteral("Load List(s) - Hold Ctrl to select multiple list files");
    const QStringList filters{QStringLiteral("XML Files (*.xml)|*.xml")};

    QStringList chosen;
    bool tooMany = false;
    guard.step(108, [&] {
        chosen = platform().openFileNames(this, title, filters);
        tooMany = OpenDialogResultLength(OpenDialogParts(chosen)) > kOpenDialogResultLimit;
    });
    if (tooMany) {
        MsgBox(
            QStringLiteral("You've selected too many files to add.\r\rPlease try adding via "
                           "the \"Add All\" button."));
        return;
    }
    QStringList parts;
    guard.step(110, [&] { parts = OpenDialogParts(chosen); });

    // Started inside another command's event pump, the window stays busy for that command.
    const bool wasBusy = IsBusy();
    guard.step(112, [this] { SetWindowPointer(WindowPointer::Busy); });
    if (parts.size() == 1) {
        QString path;
        guard.step(116, [&] { path = parts.constFirst(); });
        guard.step(118, [&] { ListView1->append(path); });
    }
    if (parts.size() >= 2) {
        const QChar separator = NativeSeparator();
        for (qsizetype i = 1; i < parts.size(); ++i) {
            QString row;
            guard.step(128, [&] { row = FolderEntry(parts.constFirst(), parts[i], separator); });
            guard.step(130, [&] { row = NormalizePath(row, separator); });
            guard.step(132, [&] { ListView1->append(row); });
        }
    }
    guard.step(136,
               [&] { SetWindowPointer(wasBusy ? WindowPointer::Busy : WindowPointer::Default); });
}
