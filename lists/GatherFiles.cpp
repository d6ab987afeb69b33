// Gathering the files of the folders that the walk found.

#include "app/ErrorReport.h"
#include "app/PathUtil.h"
#include "lists/AddFolder.h"
#include "lists/FolderListing.h"
#include "lists/Wildcard.h"

namespace {

// A hidden file with the archive bit and nothing else: left out of every scan.
constexpr int kHiddenArchive = Attribute::Hidden | Attribute::Archive;

int attributesOfFile(const QString& path) {
    const std::optional<int> attributes = AttributesOf(path);
    if (!attributes)
        throw StepFailure(QStringLiteral("File not found: ") + path);
    return *attributes;
}

}  // namespace

QStringList GetFilesInFolder(const QString& folder, const QString& pattern) {
    const QString prefix = folder.endsWith(NativeSeparator()) ? folder : folder + NativeSeparator();
    QStringList names;
    for (QString& name : ListNonFolderNames(prefix)) {
        if (MatchesWildcard(name, pattern) && IsOpenableFile(prefix + name))
            names.append(std::move(name));
    }
    return names;
}

void GatherFiles(const FolderList& folders, const QString& pattern, const RowSink& sink,
                 const StepReport& report) {
    for (const QString& entry : folders) {
        QString folder = entry;
        folder.chop(1);  // the trailing separator
        QStringList names;
        try {
            names = GetFilesInFolder(folder, pattern);
        } catch (...) {
            report(120, CurrentExceptionDescription());
            continue;
        }
        QStringList rows;
        for (const QString& name : names) {
            if (name.startsWith(QLatin1Char('~')))
                continue;
            const QString path = folder + NativeSeparator() + name;
            try {
                if (IsOpenableFile(path) && attributesOfFile(path) != kHiddenArchive)
                    rows.append(NormalizePath(path));
            } catch (...) {
                report(128, CurrentExceptionDescription());
            }
        }
        sink(rows);
    }
}
