#include "parse/InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace {

// The parser asks for a few kilobytes at a time; the file is read in larger pieces, so that a
// large file takes a sixteenth of the system calls.
constexpr qsizetype kReadPiece = 64 * 1024;

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
    size_ = info.st_size;
    return true;
}

long long InputFile::readFile(char* buffer, std::size_t size) {
    if (fd_ < 0) {
        readError_ = QStringLiteral("the file is not open");
        return -1;
    }
    if (!readError_.isEmpty())
        return -1;  // a read failed already (while the start was read ahead)
    if (atEnd_)
        return 0;
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, size);
        if (n >= 0) {
            offset_ += n;
            // A read that comes short once the file gave all the bytes its size says is at the
            // end: the read that would return nothing is saved (a file that grew since it was
            // opened fills the read, and is read on).
            atEnd_ = (n == 0 && size > 0) ||
                     (static_cast<std::size_t>(n) < size && size_ > 0 && offset_ == size_);
            return n;
        }
        if (errno != EINTR) {
            readError_ = systemError(errno);
            return -1;
        }
    }
}

long long InputFile::read(char* buffer, std::size_t size) {
    if (aheadUsed_ >= ahead_.size() && size < static_cast<std::size_t>(kReadPiece)) {
        ahead_.resize(kReadPiece);
        const long long got = readFile(ahead_.data(), kReadPiece);
        ahead_.truncate(std::max(0LL, got));
        aheadUsed_ = 0;
        if (got <= 0)
            return got;
    }
    long long n = 0;
    if (aheadUsed_ < ahead_.size()) {
        n = std::min<qsizetype>(ahead_.size() - aheadUsed_, static_cast<qsizetype>(size));
        std::memcpy(buffer, ahead_.constData() + aheadUsed_, n);
        aheadUsed_ += n;
    } else {
        n = readFile(buffer, size);
    }
    if (n > 0)
        bytesRead_ += n;
    return n;
}

QByteArray InputFile::head(std::size_t size) {
    // One read serves both the test of the start and, through read(), the parser: a small file
    // comes in whole. Kernel files report no size, so at least `size` is asked for.
    if (ahead_.isEmpty() && bytesRead_ == 0 && fd_ >= 0 && !atEnd_) {
        const long long wanted =
            std::max(static_cast<long long>(size), std::min<long long>(size_ + 1, kReadPiece));
        ahead_.resize(wanted);
        qsizetype got = 0;
        // A read that returns less than asked need not be the end: go on until `size` bytes
        // are in, the file ends or a read fails (then read() reports it after these bytes).
        while (got < static_cast<qsizetype>(size)) {
            const long long n = readFile(ahead_.data() + got, ahead_.size() - got);
            if (n <= 0)
                break;
            got += n;
        }
        ahead_.truncate(got);
    }
    return ahead_.first(std::min<qsizetype>(ahead_.size(), static_cast<qsizetype>(size)));
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
