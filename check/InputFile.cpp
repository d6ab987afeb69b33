#include "check/InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace {

QString systemError(int code) {
    return QString::fromStdString(std::generic_category().message(code));
}

QString kindOf(mode_t mode) {
    if (S_ISDIR(mode))
        return QStringLiteral("it is a folder, not a file");
    if (S_ISFIFO(mode))
        return QStringLiteral("it is a pipe (FIFO), not a regular file");
    if (S_ISSOCK(mode))
        return QStringLiteral("it is a socket, not a regular file");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("it is a device, not a regular file");
    return QStringLiteral("it is not a regular file");
}

}  // namespace

InputFile::~InputFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool InputFile::open(const QByteArray& encodedPath) {
    error_.clear();
    if (encodedPath.isEmpty() || encodedPath.contains('\0')) {
        error_ = QStringLiteral("the path is empty or holds a NUL character");
        return false;
    }
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer. It has no
    // effect on reading a regular file.
    const int fd = ::open(encodedPath.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int code = errno;
        // A socket cannot be opened at all; say what it is rather than the system's word.
        struct stat info {};
        const bool exists = ::stat(encodedPath.constData(), &info) == 0;
        error_ = exists && !S_ISREG(info.st_mode) ? kindOf(info.st_mode) : systemError(code);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        error_ = systemError(errno);
        ::close(fd);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error_ = kindOf(info.st_mode);
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

long long InputFile::read(char* buffer, std::size_t size) {
    if (fd_ < 0) {
        readError_ = QStringLiteral("the file is not open");
        return -1;
    }
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, size);
        if (n >= 0) {
            bytesRead_ += n;
            return n;
        }
        if (errno != EINTR) {
            readError_ = systemError(errno);
            return -1;
        }
    }
}

QByteArray InputFile::head(std::size_t size) {
    QByteArray bytes(static_cast<qsizetype>(size), Qt::Uninitialized);
    for (;;) {
        const ssize_t n = fd_ >= 0 ? ::pread(fd_, bytes.data(), size, 0) : 0;
        if (n >= 0) {
            bytes.truncate(n);
            return bytes;
        }
        if (errno != EINTR)
            return {};
    }
}

long long MemoryInput::read(char* buffer, std::size_t size) {
    const qsizetype n = std::min<qsizetype>(bytes_.size() - position_, size);
    if (n <= 0)
        return 0;  // (an empty view may hold no pointer at all)
    std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += n;
    return n;
}

QByteArray MemoryInput::head(std::size_t size) {
    return bytes_.first(std::min<qsizetype>(bytes_.size(), size)).toByteArray();
}

int ReadInputFile(void* source, char* buffer, int size) {
    if (size <= 0)
        return 0;
    return static_cast<int>(
        static_cast<ByteSource*>(source)->read(buffer, static_cast<std::size_t>(size)));
}
