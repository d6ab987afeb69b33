// Dropping files and folders onto the input list.

#include "FileList.h"
#include "Form1.h"
#include "WindowWalkServices.h"
#include "common/ErrorReport.h"
#include "files/AddFolder.h"
#include "files/PathUtil.h"

#include <QMimeData>
#include <QUrl>

namespace {

// The local files and folders that the data carries, in the order of the drag.
QStringList droppedPaths(const QMimeData* data) {
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl& url : data->urls()) {
        const QString path = LocalPathOf(url);  // bytes that are not text kept
        if (!path.isEmpty())
            paths.append(path);
    }
    return paths;
}

}  // namespace

bool Form1::ListView1_OLEDragOver(const QMimeData* data) {
    return !droppedPaths(data).isEmpty();
}

void Form1::ListView1_OLEDragDrop(const QMimeData* data) {
    // Taken from the data at once: the walk lets events run, and the drag's data belongs to
    // the drag.
    const QStringList paths = droppedPaths(data);
    const QString location = Form1Location(QStringLiteral("ListView1_OLEDragDrop"));
    const auto report = [&](int number, const QString& description) {
        errorBox().reportFailure(description, location, number);
    };
    WindowWalkServices services(*this);
    for (const QString& path : paths) {
        // A failure with one dropped item is reported, and the drop goes on with the next.
        try {
            if (!GatherPath(
                    path, QStringLiteral("*.*"), services,
                    [&](const QStringList& rows) { ListView1->appendAll(rows); }, report))
                return;  // the window was closed meanwhile
        } catch (...) {
            report(0, CurrentExceptionDescription());
        }
    }
}
