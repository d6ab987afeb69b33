#pragma once
// The open dialog's result in the form the "Add XML File(s)" command works with: nothing
// (Cancel); one full path; or the folder of the chosen files followed by their names.

#include "files/PathUtil.h"

#include <QString>
#include <QStringList>

// The most characters the dialog's result may take; a larger selection is refused as too many
// files.
inline constexpr qsizetype kOpenDialogResultLimit = 30000;

// The parts of the result for the full paths the dialog returned: none for no path; the path
// itself for one; for several, part 0 is the folder that holds them all (without a trailing
// separator unless it is a root) and parts 1.. are the paths below it, in the given order.
// Paths that share no folder at all give an empty part 0 and the paths unchanged.
QStringList OpenDialogParts(const QStringList& paths, QChar separator = NativeSeparator());

// The characters the result takes: its parts joined by one separator character each.
qsizetype OpenDialogResultLength(const QStringList& parts);

// A chosen name joined to its folder with one separator (the name alone when there is no
// folder). Doubled separators are left for NormalizePath.
QString FolderEntry(const QString& folder, const QString& name,
                    QChar separator = NativeSeparator());
