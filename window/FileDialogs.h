#pragma once
// The open and save dialogs of the desktop platform, on Qt's own file dialog.
//
// A filter is given as "label|patterns": the label is what the dialog shows, the patterns
// (separated by ';') choose the names listed. "*.*" means every file, also a name without a
// dot, as the user expects from a filter labelled "All Files (*.*)".

#include <QString>
#include <QStringList>

class QWidget;

// Qt name filters for "label|patterns" entries. Each one shows exactly its label (the dialog
// is told to hide the pattern part) and matches the patterns, "*.*" matching every name.
QStringList QtNameFilters(const QStringList& filters);

// A multi-selection open dialog. Names typed into its name field are returned whether or not
// such files exist. Returns full paths in the dialog's order, or nothing on Cancel.
QStringList ShowOpenFilesDialog(QWidget* owner, const QString& title, const QStringList& filters);

// A save dialog without an overwrite prompt of its own and without a default extension.
// Returns the chosen full path, or an empty text on Cancel.
// One existing file, starting at `proposed` (see Platform::openFileName).
QString ShowOpenFileDialog(QWidget* owner, const QString& title, const QStringList& filters,
                           const QString& proposed);
QString ShowSaveFileDialog(QWidget* owner, const QString& title, const QStringList& filters);
