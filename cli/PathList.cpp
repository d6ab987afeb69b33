#include "PathList.h"

#include "files/Descriptor.h"
#include "files/PathUtil.h"

#include "VisibleText.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

std::optional<QStringList> ReadPathList(const QString& list, bool nulSeparated, Output& err) {
    const auto cannotRead = [&](int error) {
        err.message(QStringLiteral("cannot read the list '%1': %2")
                        .arg(Visible(list), QString::fromLocal8Bit(std::strerror(error))));
        return std::nullopt;
    };
    const bool standardInput = list == QLatin1String("-");
    const Descriptor fd(standardInput ? STDIN_FILENO
                                      : ::open(QFile::encodeName(list).constData(),
                                               O_RDONLY | O_CLOEXEC | O_NOCTTY),
                        !standardInput);
    if (fd.get() < 0)
        return cannotRead(errno);
    const char separator = nulSeparated ? '\0' : '\n';
    QStringList paths;
    QByteArray entry;  // the entry read so far, never longer than kMaxListEntryBytes
    long long number = 1;
    const auto finish = [&] {
        if (!nulSeparated && entry.endsWith('\r'))
            entry.chop(1);
        if (!entry.isEmpty())
            paths.append(PathFromBytes(entry));
        entry.clear();
        ++number;
    };
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return cannotRead(errno);
        }
        const char* at = buffer;
        const char* const end = buffer + got;
        while (at < end) {
            const auto* stop = static_cast<const char*>(
                std::memchr(at, separator, static_cast<std::size_t>(end - at)));
            const char* const partEnd = stop != nullptr ? stop : end;
            if (static_cast<std::size_t>(entry.size() + (partEnd - at)) > kMaxListEntryBytes) {
                err.message(
                    QStringLiteral("the list '%1' has an entry longer than %2 bytes at "
                                   "%3 %4, longer than any path")
                        .arg(Visible(list), QString::number(kMaxListEntryBytes),
                             nulSeparated ? QStringLiteral("entry") : QStringLiteral("line"),
                             QString::number(number)));
                return std::nullopt;
            }
            entry.append(at, partEnd - at);
            at = partEnd;
            if (stop != nullptr) {
                finish();
                ++at;
            }
        }
    }
    finish();
    return paths;
}
