// "Save Results" under the valid and the invalid list.

#include "FileList.h"
#include "Form1.h"
#include "files/PathUtil.h"
#include "results/ResultFile.h"

#include <QEvent>

namespace {

// Drops the save's new content when the window is closed in the middle of the save. The
// program ends right after the close, so this is the last moment to remove the temporary
// file; the chosen file keeps its old content.
class DiscardOnClose final : public QObject {
public:
    DiscardOnClose(QWidget& window, ResultFileWriter& writer) : writer_(writer) {
        window.installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Close)
            writer_.discard();
        return false;
    }

private:
    ResultFileWriter& writer_;
};

// Writes one result list to a file the user chooses. The file is replaced only when every row
// was written; a failure shows one box and leaves an existing file as it was.
void SaveResultList(Form1& form, const FileList& list, const QString& procedure) {
    Guard guard = form.guardOf(procedure);
    const QString title = QStringLiteral("Save List");
    const QStringList filters{QStringLiteral("Text Files (*.txt)|*.txt"),
                              QStringLiteral("All Files (*.*)|*.*")};
    QString path;
    guard.step(114, [&] { path = form.platform().saveFileName(&form, title, filters); });
    if (path.isEmpty())
        return;

    MessageAnswer answer = MessageAnswer::No;
    if (guard.test(120, [&] { return FileExists(path); })) {
        guard.step(122, [&] {
            answer = form.MsgBox(
                QStringLiteral("Are you sure you wish to overwrite ") + path + QStringLiteral(" ?"),
                MessageButtons::YesNo);
        });
    } else {
        answer = MessageAnswer::Yes;  // a new file is written without a question
    }
    if (answer != MessageAnswer::Yes)
        return;

    // Started inside another command's event pump, the window stays busy for that command.
    const bool wasBusy = form.IsBusy();
    guard.step(128, [&] { form.SetWindowPointer(WindowPointer::Busy); });
    ResultFileWriter writer(path);
    // Without an open file there is nothing the rows could be written to: one box says so.
    bool writing = guard.step(130, [&] { writer.open(); });
    if (writing) {
        DiscardOnClose discardOnClose(form, writer);
        // The rows as they stand now: rows removed or added while the save runs do not mix
        // into the file.
        QStringList rows;
        writing = guard.step(132, [&] { rows = list.texts(); });
        for (qsizetype i = 0; writing && i < rows.size(); ++i) {
            if (!form.PumpEvents())
                return;  // the window was closed: the program ends, the old file stays
            // The first failed write ends the save; the rows after it could not be saved
            // either, and the file is not replaced.
            writing = guard.step(136, [&] { writer.writeRow(rows[i]); });
        }
        if (writing)
            guard.step(140, [&] { writer.commit(); });
    }
    guard.step(142, [&] {
        form.SetWindowPointer(wasBusy ? WindowPointer::Busy : WindowPointer::Default);
    });
}

}  // namespace

void Form1::PushButton6_Click() {
    SaveResultList(*this, *ListView2, QStringLiteral("PushButton6_Click"));
}

void Form1::PushButton1_Click() {
    SaveResultList(*this, *ListView3, QStringLiteral("PushButton1_Click"));
}
