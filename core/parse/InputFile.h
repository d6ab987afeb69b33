#pragma once
// What the XML check reads a document from: a file, or bytes already in memory.
//
// A file opened for reading by the XML check. Opening never blocks and accepts regular files
// only: a FIFO, socket or device is refused at once instead of waiting for a writer or
// reading without end. The bytes are handed over exactly as they are on disk (a compressed
// file stays compressed).

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstddef>

// A source of a document's bytes, read from the start to the end.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to `size` bytes: the number read, 0 at the end, -1 on a read error.
    virtual long long read(char* buffer, std::size_t size) = 0;
    // Up to `size` bytes from the very start, without moving on (empty when they cannot be
    // read). Call it before the first read.
    virtual QByteArray head(std::size_t size) = 0;
    // Why a read failed (empty while none did), and the bytes read before.
    virtual QString readError() const = 0;
    virtual long long bytesRead() const = 0;
};

// Bytes in memory, which must outlive the source.
class MemoryInput final : public ByteSource {
public:
    explicit MemoryInput(QByteArrayView bytes) : bytes_(bytes) {}
    long long read(char* buffer, std::size_t size) override;
    QByteArray head(std::size_t size) override;
    QString readError() const override { return {}; }
    long long bytesRead() const override { return position_; }

private:
    QByteArrayView bytes_;
    qsizetype position_ = 0;
};

class InputFile final : public ByteSource {
public:
    InputFile() = default;
    ~InputFile() override;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Opens the file named by `encodedPath` (bytes in the file-name encoding). False, with
    // error() telling why, when it does not exist, cannot be opened or is not a regular file.
    bool open(const QByteArray& encodedPath);

    // Reads up to `size` bytes: the number read, 0 at the end of the file, -1 on a read error
    // (error() then tells why).
    long long read(char* buffer, std::size_t size) override;
    QByteArray head(std::size_t size) override;
    QString readError() const override { return readError_; }
    long long bytesRead() const override { return bytesRead_; }

    // Why the last open failed, for the user to act on.
    const QString& error() const { return error_; }

private:
    // Reads from the file itself: the count, 0 at the end, -1 on an error (kept in readError_).
    long long readFile(char* buffer, std::size_t size);

    int fd_ = -1;
    long long size_ = 0;  // as the file system gave it when opened
    QString error_;
    QString readError_;
    long long bytesRead_ = 0;
    long long offset_ = 0;  // where the next read of the file starts
    bool atEnd_ = false;
    // The start of the file, read once for head() and then handed out by read().
    QByteArray ahead_;
    qsizetype aheadUsed_ = 0;
};

// A read callback in the shape C parsers take: reads up to `size` bytes from `source` (a
// ByteSource*) into `buffer`; the count, 0 at the end, -1 on an error.
int ReadInputFile(void* source, char* buffer, int size);
