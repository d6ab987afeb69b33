#include "files/AddFolder.h"

#include "common/ErrorReport.h"
#include "files/FolderListing.h"
#include "files/PathUtil.h"

#include <unordered_set>
#include <vector>

namespace {

// Thrown through the walk when the window was closed while the walk let events run.
struct WalkStopped {};

bool tooLong(const QString& path) {
    return EncodedPath(path).isEmpty();
}

QString joined(const QString& folder, const QString& name) {
    return folder.endsWith(NativeSeparator()) ? folder + name : folder + NativeSeparator() + name;
}

// One call of the walk. Each level of the tree is listed in turn; the folders found on one
// level are the list of the next.
class Walk {
public:
    explicit Walk(WalkServices& services) : services_(services) {}

    void run(FolderList& top, bool recurse) {
        FolderList level;
        scanLevel(top, level);
        while (!level.isEmpty()) {
            FolderList below;
            if (recurse)
                scanLevel(level, below);
            keepFolders(level, top);
            if (!recurse)
                break;
            level = std::move(below);
        }
    }

private:
    void pump() {
        if (!services_.pumpEvents())
            throw WalkStopped{};
    }

    void report(int number) {
        services_.reportFailure(CurrentExceptionDescription(), WalkLocation(), number);
    }

    // Opens a folder: its attribute value, and its identity noted as walked.
    int open(const QString& folder) {
        const std::optional<int> attributes = AttributesOf(folder);
        if (!attributes)
            throw ListingFailure(QStringLiteral("Path not found: ") + folder,
                                 ListingFailure::PathNotFound);
        if (const std::optional<FolderId> id = FolderIdOf(folder))
            seen_.insert(*id);
        return *attributes;
    }

    bool enters(const QString& folder, std::optional<int> attributes) const {
        return attributes && EntersFolder(*attributes, [&] { return IsFileSystemRoot(folder); });
    }

    // Lists the subfolders of every entry of `level` into `below`, and removes from `level` the
    // entries whose folder cannot be listed (permission denied, path not found).
    //
    // Two failure paths: until the first folder has been entered, a failing step is reported
    // and the walk goes on with the next step; from then on, a failing step ends the work on
    // its entry without a message (the subfolders found so far stay in `below`).
    void scanLevel(FolderList& level, FolderList& below) {
        bool listing = false;
        const FolderList entries = level;  // entries are removed from `level` on the way
        for (const QString& folder : entries) {
            int failure = -1;  // the code of a listing failure, -1 for none
            const auto step = [&](int number, auto&& body) {
                try {
                    body();
                    return true;
                } catch (const WalkStopped&) {
                    throw;
                } catch (...) {
                    if (!listing) {
                        report(number);
                        return true;
                    }
                    failure = listingFailureCode();
                    return false;
                }
            };

            if (!IsDirectory(folder) || tooLong(folder))
                continue;
            std::optional<int> attributes;
            if (step(112, [&] { attributes = open(folder); }) && step(114, [&] { pump(); })) {
                if (!enters(folder, attributes))
                    continue;
                listing = true;
                std::vector<SubFolder> subFolders;
                if (step(118, [&] { subFolders = ListSubFolders(folder); })) {
                    for (const SubFolder& sub : subFolders) {
                        if (!step(120, [&] { pump(); }))
                            break;
                        const QString& name = sub.name;
                        if (name == QLatin1String(".") || name == QLatin1String(".."))
                            continue;
                        const QString path = joined(folder, name) + NativeSeparator();
                        if (HasUnusableChars(name) || name.contains(QLatin1Char('?'))) {
                            services_.folderLeftOut(path, LeftOutFolder::UnusableName);
                            continue;
                        }
                        if (tooLong(name) || tooLong(path)) {
                            services_.folderLeftOut(path, LeftOutFolder::PathTooLong);
                            continue;
                        }
                        // A folder met before in this walk (a link to an ancestor or to a
                        // folder already found) is not walked again.
                        if (!seen_.insert(sub.id).second)
                            continue;
                        below.append(path);
                    }
                }
            }
            if (failure == ListingFailure::PermissionDenied ||
                failure == ListingFailure::PathNotFound)
                level.removeOne(folder);
        }
    }

    // Appends to `into` the entries of `found` that are still folders the walk may enter.
    void keepFolders(const FolderList& found, FolderList& into) {
        for (const QString& folder : found) {
            if (!IsDirectory(folder))
                continue;
            try {
                pump();
            } catch (const WalkStopped&) {
                throw;
            } catch (...) {
                report(156);
            }
            if (enters(folder, AttributesOf(folder)))
                into.append(folder);
        }
    }

    // The code of the failure being handled (call only inside a catch block).
    static int listingFailureCode() {
        try {
            throw;
        } catch (const ListingFailure& failure) {
            return failure.code();
        } catch (...) {
            return 0;
        }
    }

    WalkServices& services_;
    std::unordered_set<FolderId, FolderIdHash> seen_;
};

}  // namespace

QString WalkLocation() {
    return LocationText(QStringLiteral("TernwickTitle"), QStringLiteral("AddFolder"),
                        QStringLiteral("GetSubDirectories2016"));
}

bool GetSubDirectories2016(FolderList& folders, bool recurse, WalkServices& services) {
    try {
        Walk(services).run(folders, recurse);
        return true;
    } catch (const WalkStopped&) {
        return false;
    }
}

bool HasUnusableChars(const QString& name) {
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name[i];
        if (c.isHighSurrogate() && i + 1 < name.size() && name[i + 1].isLowSurrogate()) {
            ++i;  // a character beyond the first plane: usable
            continue;
        }
        const char16_t code = c.unicode();
        if (code >= 0xDC80 && code <= 0xDCFF)
            continue;  // a kept byte: the path leads back to it
        if (c.isSurrogate() || code < 32 || (code >= 127 && code <= 159) || code == u'?')
            return true;
    }
    return false;
}

bool EntersFolder(int attributes, const std::function<bool()>& isRoot) {
    constexpr int systemFolder = Attribute::Directory | Attribute::System | Attribute::Hidden;
    constexpr int systemLink = systemFolder | Attribute::ReparsePoint;
    return (attributes != systemFolder && attributes != systemLink) || isRoot();
}
