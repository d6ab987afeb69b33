#include "check/InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
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
        error_ = QStringLiteral("the file is not open");
        return -1;
    }
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, size);
        if (n >= 0)
            return n;
        if (errno != EINTR) {
            error_ = systemError(errno);
            return -1;
        }
    }
}

int ReadInputFile(void* file, char* buffer, int size) {
    if (size <= 0)
        return 0;
    return static_cast<int>(
        static_cast<InputFile*>(file)->read(buffer, static_cast<std::size_t>(size)));
}
