// Gathering the files of the folders that the walk found.

#include "common/ErrorReport.h"
#include "files/AddFolder.h"
#include "files/FolderListing.h"
#include "files/PathUtil.h"
#include "files/Wildcard.h"

#include <QSet>

namespace {

// A hidden file with the archive bit and nothing else: left out of every scan.
constexpr int kHiddenArchive = Attribute::Hidden | Attribute::Archive;

int attributesOfFile(const QString& path) {
    const std::optional<int> attributes = AttributesOf(path);
    if (!attributes)
        throw StepFailure(QStringLiteral("File not found: ") + path);
    return *attributes;
}

// The names of the folder's files that match the pattern, in listing order.
QStringList matchingNames(const QString& prefix, const QString& pattern) {
    QStringList names = ListNonFolderNames(prefix);
    names.removeIf([&](const QString& name) { return !MatchesWildcard(name, pattern); });
    return names;
}

}  // namespace

QStringList GetFilesInFolder(const QString& folder, const QString& pattern) {
    const QString prefix = folder.endsWith(NativeSeparator()) ? folder : folder + NativeSeparator();
    QStringList names = matchingNames(prefix, pattern);
    names.removeIf([&](const QString& name) { return !IsOpenableFile(prefix + name); });
    return names;
}

void GatherFiles(const FolderList& folders, const QString& pattern, const RowSink& sink,
                 const StepReport& report, const SkipSink& skipped) {
    // Rows go to the sink in parts, so that a caller can let events run even inside a folder
    // of 100,000 files.
    constexpr qsizetype kPart = 2000;
    for (const QString& entry : folders) {
        QString folder = entry;
        folder.chop(1);  // the trailing separator
        QStringList names;
        try {
            names = matchingNames(folder + NativeSeparator(), pattern);
        } catch (...) {
            report(120, CurrentExceptionDescription());
            continue;
        }
        // Each file is tested once: openable (which GetFilesInFolder would test too) and not
        // a hidden archive file.
        QStringList rows;
        for (const QString& name : names) {
            const QString path = folder + NativeSeparator() + name;
            if (name.startsWith(QLatin1Char('~'))) {
                if (skipped)
                    skipped(path, SkipReason::Tilde);
                continue;
            }
            try {
                if (!IsOpenableFile(path)) {
                    if (skipped)
                        skipped(path, SkipReason::NotOpenable);
                } else if (attributesOfFile(path) == kHiddenArchive) {
                    if (skipped)
                        skipped(path, SkipReason::Hidden);
                } else {
                    rows.append(NormalizePath(path));
                }
            } catch (...) {
                report(128, CurrentExceptionDescription());
            }
            if (rows.size() == kPart) {
                sink(rows);
                rows.clear();
            }
        }
        if (!rows.isEmpty())
            sink(rows);
    }
}

bool GatherPath(const QString& path, const QString& pattern, WalkServices& services,
                const RowSink& sink, const StepReport& report) {
    if (!IsDirectory(path)) {
        sink({path});
        return true;
    }
    FolderList folders{path + NativeSeparator()};
    if (!GetSubDirectories2016(folders, true, services))
        return false;
    GatherFiles(folders, pattern, sink, report);
    return true;
}

void GatherFolderTree(const QString& folder, const QStringList& extensions, WalkServices& services,
                      const RowSink& sink, const SkipSink& skipped) {
    FolderList folders{folder + NativeSeparator()};
    GetSubDirectories2016(folders, true, services);
    const bool several = extensions.size() > 1;
    QSet<QString> skippedPaths;
    const SkipSink skip = [&](const QString& file, SkipReason reason) {
        if (!skipped)
            return;
        if (several) {
            const qsizetype before = skippedPaths.size();
            skippedPaths.insert(file);
            if (skippedPaths.size() == before)
                return;
        }
        skipped(file, reason);
    };
    for (const QString& one : folders) {
        QSet<QString> seen;
        for (const QString& extension : extensions) {
            const QString pattern =
                extension == QLatin1String("*") ? extension : QStringLiteral("*.") + extension;
            GatherFiles(
                FolderList{one}, pattern,
                [&](const QStringList& rows) {
                    if (!several)
                        return sink(rows);
                    QStringList fresh;
                    for (const QString& row : rows) {
                        const qsizetype before = seen.size();
                        seen.insert(row);
                        if (seen.size() != before)
                            fresh.append(row);
                    }
                    if (!fresh.isEmpty())
                        sink(fresh);
                },
                [&](int number, const QString& description) {
                    services.reportFailure(description, WalkLocation(), number);
                },
                skip);
        }
    }
}
