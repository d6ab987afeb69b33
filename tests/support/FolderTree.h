#pragma once
// Helpers for tests on real folder trees: making folders, files and links, and a folder that
// the test process cannot list, even when it runs as root.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <dirent.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tree {

inline QString makeFolder(const QString& path) {
    if (!QDir().mkpath(path))
        qFatal("cannot make folder %s", qPrintable(path));
    return path;
}

// Writes a small file (folders created as needed) and returns its path.
inline QString makeFile(const QString& path, const QByteArray& content = "<a/>\n") {
    makeFolder(path.left(path.lastIndexOf(QLatin1Char('/'))));
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// The paths without the root folder in front, for readable comparisons.
inline QStringList relative(QStringList paths, const QString& root) {
    for (QString& p : paths)
        p = p.startsWith(root + QLatin1Char('/')) ? p.mid(root.size() + 1)
                                                  : QStringLiteral("<outside> ") + p;
    return paths;
}

inline void makeLink(const QString& target, const QString& link) {
    if (::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) != 0)
        qFatal("cannot link %s", qPrintable(link));
}

// While it lives, `folder` cannot be listed by this thread: its permissions are cleared, and a
// root process also gives up (from its effective set only) the two capabilities that let it
// read any folder. Both are restored at the end.
class UnlistableFolder {
public:
    explicit UnlistableFolder(const QString& folder) : folder_(QFile::encodeName(folder)) {
        struct stat info {};
        ::stat(folder_.constData(), &info);
        mode_ = info.st_mode & 07777;
        ::chmod(folder_.constData(), 0);
        header_.version = _LINUX_CAPABILITY_VERSION_3;
        header_.pid = 0;
        if (::syscall(SYS_capget, &header_, saved_) != 0)
            return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        const unsigned mask = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
        reduced[0].effective &= ~mask;
        dropped_ = ::syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~UnlistableFolder() {
        if (dropped_)
            ::syscall(SYS_capset, &header_, saved_);
        ::chmod(folder_.constData(), mode_);
    }
    UnlistableFolder(const UnlistableFolder&) = delete;
    UnlistableFolder& operator=(const UnlistableFolder&) = delete;

    // True when the folder really cannot be listed now.
    bool effective() const {
        DIR* dir = ::opendir(folder_.constData());
        if (dir)
            ::closedir(dir);
        return dir == nullptr;
    }

private:
    QByteArray folder_;
    mode_t mode_ = 0755;
    __user_cap_header_struct header_{};
    __user_cap_data_struct saved_[2]{};
    bool dropped_ = false;
};

}  // namespace tree
