#include "StreamInput.h"

#include "files/Descriptor.h"

#include "files/PathUtil.h"
#include "parse/ParserMemory.h"

#include <QByteArray>
#include <QFile>

#include <libxml/xmlerror.h>

#include <fcntl.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

CheckResult ioFailure(const QString& path, const QString& reason, long long offset) {
    CheckResult result;
    result.error.errorCode = XML_IO_LOAD_ERROR;
    result.error.reason = reason + QStringLiteral("\r\n");
    result.error.url = path;
    result.error.filepos = static_cast<std::int32_t>(std::min<long long>(offset, INT32_MAX));
    return result;
}

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace

CheckResult CheckStreamArgument(const QString& path, bool standardInput,
                                const XmlCheckOptions& options) {
    const QString shown = standardInput ? QStringLiteral("standard input") : path;
    const Descriptor fd(standardInput
                            ? STDIN_FILENO
                            : ::open(PathBytes(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY),
                        !standardInput);
    if (fd.get() < 0)
        return ioFailure(
            path, QStringLiteral("failed to load \"%1\": %2").arg(path, systemError(errno)), 0);
    const long long limit = static_cast<long long>(ParserMemoryLimit());
    // The bytes held count in the memory that all checks share: workers reading streams
    // together stay within the process's bound, and so does the check of what they read.
    ParserMemoryBudget held;
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return ioFailure(path,
                             QStringLiteral("failed to read %1 after %2 bytes: %3")
                                 .arg(shown, QString::number(bytes.size()), systemError(errno)),
                             bytes.size());
        }
        if (bytes.size() + got > limit)
            return ioFailure(path,
                             QStringLiteral("%1 holds more than %2 MB, more than one document "
                                            "may take")
                                 .arg(shown, QString::number(limit >> 20)),
                             bytes.size());
        if (bytes.size() + got > bytes.capacity()) {
            // Grown here, by doubling up to the limit, so that the budget knows each block
            // before it is taken.
            const qsizetype grown = std::min<long long>(
                std::max<long long>(2 * bytes.capacity(), bytes.size() + got), limit);
            if (!held.take(grown - bytes.capacity()))
                return ioFailure(path,
                                 QStringLiteral("%1 cannot be held: the checks running together "
                                                "have used the %2 MB that this run may take")
                                     .arg(shown, QString::number(ParserMemoryRunLimit() >> 20)),
                                 bytes.size());
            bytes.reserve(grown);
        }
        bytes.append(buffer, got);
    }
    // "-" resolves against the working folder, the folder of a file named "-" there.
    return CheckXmlBytes(bytes, path, options);
}
