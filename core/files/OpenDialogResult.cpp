#include "files/OpenDialogResult.h"

#include <algorithm>

namespace {

// The folder that holds every path: the longest prefix, ending before a separator, that each
// path continues with a separator. A root keeps its separator ("/", "C:\"). Empty when the
// paths share no folder.
QString commonFolder(const QStringList& paths, QChar separator) {
    const QString& first = paths.constFirst();
    qsizetype cut = first.lastIndexOf(separator);
    while (cut >= 0) {
        const QString folder = first.left(cut + 1);  // with its separator
        const bool shared = std::all_of(paths.begin(), paths.end(), [&](const QString& path) {
            return path.size() > folder.size() && path.startsWith(folder);
        });
        if (shared) {
            const QString bare = folder.left(cut);
            return bare.contains(separator) ? bare : folder;
        }
        cut = cut == 0 ? -1 : first.lastIndexOf(separator, cut - 1);
    }
    return {};
}

}  // namespace

QStringList OpenDialogParts(const QStringList& paths, QChar separator) {
    if (paths.size() <= 1)
        return paths;
    const QString folder = commonFolder(paths, separator);
    QStringList parts{folder};
    for (const QString& path : paths) {
        if (folder.isEmpty())
            parts.append(path);
        else
            parts.append(path.mid(folder.endsWith(separator) ? folder.size() : folder.size() + 1));
    }
    return parts;
}

qsizetype OpenDialogResultLength(const QStringList& parts) {
    qsizetype length = parts.isEmpty() ? 0 : parts.size() - 1;
    for (const QString& part : parts)
        length += part.size();
    return length;
}

QString FolderEntry(const QString& folder, const QString& name, QChar separator) {
    return folder.isEmpty() ? name : folder + separator + name;
}
