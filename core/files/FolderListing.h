#pragma once
// Listing folders and reading the attribute values of files and folders. Every raw file-system
// call of the folder walk lives behind this header.
//
// Attribute values follow the classic bit values: read-only 1, hidden 2, system 4, directory 16,
// archive 32, reparse point 1024. On this platform they are derived: directory for a folder,
// hidden for a name that starts with ".", archive for every regular file, reparse point for a
// symbolic link, read-only when nobody may write the item; system is never set.

#include "common/ErrorReport.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace Attribute {
inline constexpr int ReadOnly = 1;
inline constexpr int Hidden = 2;
inline constexpr int System = 4;
inline constexpr int Directory = 16;
inline constexpr int Archive = 32;
inline constexpr int ReparsePoint = 1024;
}  // namespace Attribute

// The derived attribute value of the item at `path` (links followed for everything but the
// reparse-point bit); nothing when the item does not exist or cannot be queried.
std::optional<int> AttributesOf(const QString& path);

// True when the folder is the root of the file system (its own parent).
bool IsFileSystemRoot(const QString& folder);

// Identifies a real folder, whatever path leads to it.
struct FolderId {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FolderId&) const = default;
};
struct FolderIdHash {
    std::size_t operator()(const FolderId& id) const noexcept {
        return static_cast<std::size_t>(id.inode * 0x9E3779B97F4A7C15ULL ^ id.device);
    }
};

// The identity of the folder at `path` (links followed); nothing when it is no folder.
std::optional<FolderId> FolderIdOf(const QString& path);

// A folder that could not be listed. `code` tells why: 70 permission denied, 76 path not
// found, 0 anything else.
class ListingFailure : public StepFailure {
public:
    static constexpr int PermissionDenied = 70;
    static constexpr int PathNotFound = 76;
    ListingFailure(const QString& description, int code) : StepFailure(description), code_(code) {}
    int code() const { return code_; }

private:
    int code_;
};

struct SubFolder {
    QString name;  // bytes that are not text are kept bytes (see PathFromBytes)
    FolderId id;
};

// The folders (and links to folders) directly inside `folder`, without "." and "..", sorted by
// name without regard to case. Throws ListingFailure.
std::vector<SubFolder> ListSubFolders(const QString& folder);

// The names of everything directly inside `folder` that is not a folder, sorted like
// ListSubFolders; bytes that are not text are kept bytes, so a path built from the name opens
// the file. Throws ListingFailure.
QStringList ListNonFolderNames(const QString& folder);

// The order of a listing: without regard to case first, then exact, so that it is stable.
bool ListingOrderLess(const QString& a, const QString& b);
