#pragma once
// A file opened for reading by the XML check. Opening never blocks and accepts regular files
// only: a FIFO, socket or device is refused at once instead of waiting for a writer or
// reading without end. The bytes are handed over exactly as they are on disk (a compressed
// file stays compressed).

#include <QByteArray>
#include <QString>

#include <cstddef>

class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Opens the file named by `encodedPath` (bytes in the file-name encoding). False, with
    // error() telling why, when it does not exist, cannot be opened or is not a regular file.
    bool open(const QByteArray& encodedPath);

    // Reads up to `size` bytes: the number read, 0 at the end of the file, -1 on a read error
    // (error() then tells why).
    long long read(char* buffer, std::size_t size);

    // Why the last open or read failed, for the user to act on.
    const QString& error() const { return error_; }

private:
    int fd_ = -1;
    QString error_;
};

// A read callback in the shape C parsers take: reads up to `size` bytes from `file` (an
// InputFile) into `buffer`; the count, 0 at the end, -1 on an error.
int ReadInputFile(void* file, char* buffer, int size);
