#include "files/FolderListing.h"

#include "files/PathUtil.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <system_error>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

struct DirCloser {
    void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

FolderId idOf(const struct stat& info) {
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

[[noreturn]] void throwListingFailure(int error, const QString& folder) {
    int code = 0;
    if (error == EACCES || error == EPERM)
        code = ListingFailure::PermissionDenied;
    else if (error == ENOENT || error == ENOTDIR)
        code = ListingFailure::PathNotFound;
    const QString reason = QString::fromStdString(std::generic_category().message(error));
    throw ListingFailure(reason + QStringLiteral(": ") + folder, code);
}

DirHandle openFolder(const QString& folder) {
    const QByteArray name = EncodedPath(folder);
    if (name.isEmpty())
        throwListingFailure(folder.isEmpty() ? ENOENT : ENAMETOOLONG, folder);
    DirHandle dir(::opendir(name.constData()));
    if (!dir)
        throwListingFailure(errno, folder);
    return dir;
}

// Calls `visit(entry)` for every entry of the folder but "." and "..".
template <class Visit>
void forEachEntry(const QString& folder, Visit&& visit) {
    DirHandle dir = openFolder(folder);
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (!entry) {
            if (errno != 0)
                throwListingFailure(errno, folder);
            return;
        }
        const char* n = entry->d_name;
        if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0')))
            continue;
        visit(::dirfd(dir.get()), *entry);
    }
}

// A name from the file-name encoding, its bytes kept (see PathFromBytes).
QString decodeName(const char* bytes) {
    const QByteArrayView view(bytes);
    if (std::all_of(view.begin(), view.end(), [](char c) { return (c & 0x80) == 0; }))
        return QString::fromLatin1(view);
    return PathFromBytes(view);
}

}  // namespace

bool ListingOrderLess(const QString& a, const QString& b) {
    const int folded = QString::compare(a, b, Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : a < b;
}

std::optional<int> AttributesOf(const QString& path) {
    // Without its trailing separators, so that a link to a folder is seen as a link.
    QString item = path;
    while (item.size() > 1 && item.endsWith(NativeSeparator()))
        item.chop(1);
    const QByteArray name = EncodedPath(item);
    struct stat own {};
    if (name.isEmpty() || ::lstat(name.constData(), &own) != 0)
        return std::nullopt;
    int attributes = 0;
    struct stat target = own;
    if (S_ISLNK(own.st_mode)) {
        attributes |= Attribute::ReparsePoint;
        if (::stat(name.constData(), &target) != 0)
            target = own;  // a dangling link: only its own bits
    }
    if (S_ISDIR(target.st_mode))
        attributes |= Attribute::Directory;
    else if (S_ISREG(target.st_mode))
        attributes |= Attribute::Archive;
    if (!S_ISLNK(target.st_mode) && (target.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        attributes |= Attribute::ReadOnly;
    const QString itemName = FileNameOf(item);
    if (itemName.startsWith(QLatin1Char('.')) && itemName != QLatin1String(".") &&
        itemName != QLatin1String(".."))
        attributes |= Attribute::Hidden;
    return attributes;
}

bool IsFileSystemRoot(const QString& folder) {
    const QByteArray name = EncodedPath(folder);
    const QByteArray parent = EncodedPath(folder + NativeSeparator() + QStringLiteral(".."));
    struct stat self {};
    struct stat up {};
    return !name.isEmpty() && !parent.isEmpty() && ::stat(name.constData(), &self) == 0 &&
           ::stat(parent.constData(), &up) == 0 && idOf(self) == idOf(up);
}

std::optional<FolderId> FolderIdOf(const QString& path) {
    const QByteArray name = EncodedPath(path);
    struct stat info {};
    if (name.isEmpty() || ::stat(name.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return std::nullopt;
    return idOf(info);
}

std::vector<SubFolder> ListSubFolders(const QString& folder) {
    std::vector<SubFolder> found;
    forEachEntry(folder, [&](int dirFd, const dirent& entry) {
        if (entry.d_type != DT_DIR && entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN)
            return;
        // The entry itself may be a link: its target decides, and names the real folder.
        struct stat info {};
        if (::fstatat(dirFd, entry.d_name, &info, 0) != 0 || !S_ISDIR(info.st_mode))
            return;
        found.push_back({decodeName(entry.d_name), idOf(info)});
    });
    std::sort(found.begin(), found.end(), [](const SubFolder& a, const SubFolder& b) {
        return ListingOrderLess(a.name, b.name);
    });
    return found;
}

QStringList ListNonFolderNames(const QString& folder) {
    QStringList names;
    forEachEntry(folder, [&](int dirFd, const dirent& entry) {
        if (entry.d_type == DT_DIR)
            return;
        if (entry.d_type == DT_UNKNOWN) {
            struct stat info {};
            if (::fstatat(dirFd, entry.d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISDIR(info.st_mode))
                return;
        }
        names.append(decodeName(entry.d_name));
    });
    std::sort(names.begin(), names.end(), ListingOrderLess);
    return names;
}
