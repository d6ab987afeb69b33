#include "FileDialogs.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>

namespace {

// Qt's own widget dialog is used everywhere: a desktop's native dialog would refuse names of
// files that do not exist in a multi-selection, and would show the filters' labels cut short.
void useOwnDialog(QFileDialog& dialog, const QStringList& filters) {
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setNameFilters(QtNameFilters(filters));
}

// A multi-selection open dialog that, unlike QFileDialog::ExistingFiles, accepts typed names
// of files that do not exist. It runs in AnyFile mode (which checks no existence) with the
// views switched to multiple selection.
class OpenFilesDialog final : public QFileDialog {
public:
    OpenFilesDialog(QWidget* owner, const QString& title) : QFileDialog(owner, title) {
        setOption(QFileDialog::DontUseNativeDialog, true);
        setAcceptMode(QFileDialog::AcceptOpen);
        setFileMode(QFileDialog::AnyFile);
        // AnyFile mode gives the file views single selection.
        for (QAbstractItemView* view : fileViews())
            view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    }

    // The list and the detail view of Qt's dialog (they share one selection).
    QList<QAbstractItemView*> fileViews() const {
        QList<QAbstractItemView*> views;
        for (auto* view : findChildren<QAbstractItemView*>())
            if (view->objectName() == QLatin1String("listView") ||
                view->objectName() == QLatin1String("treeView"))
                views.append(view);
        return views;
    }

    // The chosen files: folders among several names are left out.
    QStringList chosenFiles() const {
        QStringList files = selectedFiles();
        if (files.size() > 1)
            files.removeIf([](const QString& path) { return QFileInfo(path).isDir(); });
        return files;
    }

    void accept() override {
        // Several names stand in the name field as "a" "b", typed or put there by a selection
        // in the list. QFileDialog would take the names selected in its list and drop the typed
        // names of files that do not exist (or, in AnyFile mode, keep only the first name): the
        // name field is taken as it stands instead.
        auto* name = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (name && name->text().contains(QLatin1Char('"'))) {
            for (QAbstractItemView* view : fileViews())
                if (view->selectionModel())
                    view->selectionModel()->clearSelection();
            if (!chosenFiles().isEmpty() && selectedFiles().size() > 1) {
                QDialog::accept();
                return;
            }
        }
        // One name, or folders only: Qt's handling (a folder is opened, a file is accepted).
        const QStringList files = selectedFiles();
        const bool opensFolder = files.size() == 1 && QFileInfo(files.constFirst()).isDir();
        QFileDialog::accept();
        // The folder typed to get there does not stay in the name field.
        if (opensFolder && name && isVisible())
            name->clear();
    }
};

}  // namespace

QStringList QtNameFilters(const QStringList& filters) {
    QStringList result;
    result.reserve(filters.size());
    for (const QString& filter : filters) {
        const qsizetype bar = filter.indexOf(QLatin1Char('|'));
        const QString label = bar < 0 ? filter : filter.left(bar);
        QStringList patterns =
            bar < 0 ? QStringList{QStringLiteral("*")}
                    : filter.mid(bar + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& pattern : patterns) {
            pattern = pattern.trimmed();
            if (pattern == QLatin1String("*.*"))
                pattern = QStringLiteral("*");
        }
        // The dialog shows what stands before the last parenthesised part, which holds the
        // patterns it matches.
        result.append(label + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                      QLatin1Char(')'));
    }
    return result;
}

QStringList ShowOpenFilesDialog(QWidget* owner, const QString& title, const QStringList& filters) {
    OpenFilesDialog dialog(owner, title);
    useOwnDialog(dialog, filters);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.chosenFiles();
}

QString ShowOpenFileDialog(QWidget* owner, const QString& title, const QStringList& filters,
                           const QString& proposed) {
    QFileDialog dialog(owner, title);
    useOwnDialog(dialog, filters);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setFilter(dialog.filter() | QDir::Hidden);
    if (QFileInfo(proposed).isDir())
        dialog.setDirectory(proposed);
    else if (!proposed.isEmpty())
        dialog.selectFile(proposed);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QString ShowSaveFileDialog(QWidget* owner, const QString& title, const QStringList& filters) {
    QFileDialog dialog(owner, title);
    useOwnDialog(dialog, filters);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}
