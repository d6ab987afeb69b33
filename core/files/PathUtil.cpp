#include "files/PathUtil.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <climits>

namespace {

bool statPath(const QString& path, struct stat* info) {
    const QByteArray name = EncodedPath(path);
    return !name.isEmpty() && ::stat(name.constData(), info) == 0;
}

// One pass over `text`, replacing each pair of separators by one; pairs do not overlap.
QString collapsePairs(const QString& text, QChar separator) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        out.append(text[i]);
        if (text[i] == separator && i + 1 < text.size() && text[i + 1] == separator)
            ++i;
    }
    return out;
}

}  // namespace

QByteArray EncodedPath(const QString& path) {
    if (path.isEmpty() || path.contains(QChar(0)))
        return {};
    QByteArray name = QFile::encodeName(path);
    return name.size() < PathLengthLimit() ? name : QByteArray();
}

int PathLengthLimit() {
    return PATH_MAX;
}

QString FileNameOf(const QString& path, QChar separator) {
    const qsizetype p = path.lastIndexOf(separator);
    return p < 0 ? path : path.mid(p + 1);
}

QString NormalizePath(const QString& path, QChar separator) {
    if (path.isEmpty() || path[0] != separator || separator != QLatin1Char('\\'))
        return collapsePairs(path, separator);
    qsizetype k = 1;
    while (k < path.size() && path[k] == separator)
        ++k;
    return QString(2, separator) + collapsePairs(path.mid(k), separator);
}

bool FileExists(const QString& path) {
    struct stat info {};
    return statPath(path, &info);
}

bool IsDirectory(const QString& path) {
    struct stat info {};
    return statPath(path, &info) && S_ISDIR(info.st_mode);
}

bool IsOpenableFile(const QString& path) {
    const QByteArray name = EncodedPath(path);
    struct stat info {};
    if (name.isEmpty() || ::stat(name.constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    // O_NONBLOCK: should the item have been replaced by a FIFO since the stat, the open must
    // not wait for a writer.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    return regular;
}
