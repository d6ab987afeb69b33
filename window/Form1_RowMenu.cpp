// The pop-up menu of a row of any list (right-click, the Menu key, Shift+F10), the report
// window of an invalid row, and copying a row.

#include "FileList.h"
#include "FileListModel.h"
#include "Form1.h"
#include "ReportWindow.h"
#include "files/PathUtil.h"

#include <QKeyEvent>
#include <QKeySequence>

namespace {

const QString kOpenAtError = QStringLiteral("Open at Error");
const QString kOpen = QStringLiteral("Open");
const QString kShowInFolder = QStringLiteral("Show in Folder");
const QString kShowReport = QStringLiteral("Show Report");
const QString kCopyPath = QStringLiteral("Copy Path");
const QString kCopyRow = QStringLiteral("Copy Row");
const QString kCheckAgainstSchema = QStringLiteral("Start Checking Against Schema...");
const QString kCheckWithOwnSchemas =
    QStringLiteral("Start Checking With The Documents' Own Schemas");
const QString kCheckWithProject = QStringLiteral("Start Checking With Project Settings...");

}  // namespace

QString Form1::rowPath(const FileList& list, int row) const {
    const QString text = list.text(row);
    if (&list == ListView3) {
        const auto found = invalidRows_.constFind(text);
        if (found != invalidRows_.constEnd())
            return found->path;
    }
    return text;
}

const ParseErrorReport* Form1::rowReport(const FileList& list, int row) const {
    if (&list != ListView3 || row < 1 || row > list.count())
        return nullptr;
    const auto found = invalidRows_.constFind(list.text(row));
    return found == invalidRows_.constEnd() ? nullptr : &found->report;
}

void Form1::reportPlatformFailure(const QString& error) {
    platform().showMessage(this, error, ApplicationTitle, MessageButtons::Ok,
                           MessageIcon::Exclamation);
}

void Form1::openAtError(const QString& path, const ParseErrorReport& report) {
    QString error;
    if (!platform().openInEditorAt(path, report.line, report.linepos, &error))
        reportPlatformFailure(error);
}

void Form1::RowMenu(FileList& list, int row, QPoint globalPos) {
    const bool input = &list == ListView1;
    if (input && (row < 1 || row > list.count())) {
        const QString chosen = platform().chooseMenuItem(
            this, globalPos, {kCheckAgainstSchema, kCheckWithOwnSchemas, kCheckWithProject});
        if (chosen == kCheckAgainstSchema)
            StartCheckingAgainstSchema();
        else if (chosen == kCheckWithOwnSchemas)
            StartCheckingWithOwnSchemas();
        else if (chosen == kCheckWithProject)
            StartCheckingWithProjectSettings();
        return;
    }
    if (row < 1 || row > list.count())
        return;
    list.select(row);
    const QString text = list.text(row);
    const QString path = rowPath(list, row);
    const ParseErrorReport* report = rowReport(list, row);
    QStringList items;
    if (report)
        items << kOpenAtError << kShowReport;
    else if (&list != ListView3)
        items << kOpen;
    items << kShowInFolder << kCopyPath << kCopyRow;
    if (input)
        items << kCheckAgainstSchema << kCheckWithOwnSchemas << kCheckWithProject;

    const QString chosen = platform().chooseMenuItem(this, globalPos, items);
    QString error;
    if (chosen == kOpenAtError) {
        openAtError(path, *report);
    } else if (chosen == kShowReport) {
        ShowReport(row);
    } else if (chosen == kOpen) {
        if (!platform().openUrl(QUrl::fromLocalFile(path)))
            reportPlatformFailure(QStringLiteral("No program could open %1").arg(path));
    } else if (chosen == kShowInFolder) {
        if (!platform().showInFileManager(path, &error))
            reportPlatformFailure(error);
    } else if (chosen == kCopyPath) {
        platform().setClipboardText(path);
    } else if (chosen == kCopyRow) {
        platform().setClipboardText(text);
    } else if (chosen == kCheckAgainstSchema) {
        StartCheckingAgainstSchema();
    } else if (chosen == kCheckWithOwnSchemas) {
        StartCheckingWithOwnSchemas();
    } else if (chosen == kCheckWithProject) {
        StartCheckingWithProjectSettings();
    }
}

bool Form1::RowKey(FileList& list, const QKeyEvent& key) {
    const int row = list.selectedRow();
    if (key.matches(QKeySequence::Copy)) {
        if (row > 0)
            platform().setClipboardText(list.text(row));
        return true;
    }
    const bool menuKey = key.key() == Qt::Key_Menu ||
                         (key.key() == Qt::Key_F10 && key.modifiers() == Qt::ShiftModifier);
    if (menuKey) {
        if (row > 0) {
            list.scrollIntoView(row);
            const QRect rect = list.visualRect(list.model().index(row - 1));
            RowMenu(list, row, list.viewport()->mapToGlobal(rect.bottomLeft()));
        }
        return true;
    }
    if ((key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter) && &list == ListView3)
        return ShowReport(row);
    return false;
}

bool Form1::ShowReport(int row) {
    const ParseErrorReport* report = rowReport(*ListView3, row);
    if (!report)
        return false;
    const QString path = rowPath(*ListView3, row);
    const ParseErrorReport shown = *report;
    auto* window = new ReportWindow(this, platform(),
                                    ApplicationTitle + QStringLiteral(" - ") + FileNameOf(path),
                                    path, shown, [this, path, shown] { openAtError(path, shown); });
    window->show();
    window->raise();
    window->activateWindow();
    return true;
}
