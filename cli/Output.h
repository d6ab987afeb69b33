#pragma once
// The command's output streams.

#include "files/PathUtil.h"

#include <QByteArray>
#include <QString>

#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>

// A stream that remembers its first failed write: output that was lost must not end in a
// success.
class Output {
public:
    explicit Output(std::FILE* stream) : stream_(stream) {}
    void write(const QByteArray& bytes) {
        if (error_ != 0 || bytes.isEmpty())
            return;
        errno = 0;
        if (std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream_) !=
            static_cast<std::size_t>(bytes.size()))
            error_ = errno != 0 ? errno : EIO;
    }
    // Kept bytes of a path are shown as U+FFFD.
    void write(const QString& text) { write(ShownText(text).toLocal8Bit()); }
    // A message of the command, "brellix-check: " and `text` on a line. Every name or text
    // from outside in it must have gone through Visible.
    void message(const QString& text) {
        write(QStringLiteral("brellix-check: ") + text + QLatin1Char('\n'));
    }
    void flush() {
        if (error_ != 0)
            return;
        errno = 0;
        if (std::fflush(stream_) != 0 || std::ferror(stream_))
            error_ = errno != 0 ? errno : EIO;
    }
    bool failed() const { return error_ != 0; }
    bool isTerminal() const { return ::isatty(::fileno(stream_)) == 1; }
    QString errorText() const { return QString::fromLocal8Bit(std::strerror(error_)); }

private:
    std::FILE* stream_;
    int error_ = 0;
};
