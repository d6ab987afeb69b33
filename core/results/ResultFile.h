#pragma once
// Writing a result list to a text file: each row's text followed by CR LF, in the locale's
// encoding, nothing before or after. The new content goes to a temporary file beside the chosen
// one, which replaces the chosen file only once everything was written: a failed or
// interrupted save leaves an existing file exactly as it was.

#include <QByteArray>
#include <QString>

#include <memory>

class QSaveFile;

// A row as it stands in the file: its text followed by CR LF.
QByteArray ResultFileEntry(const QString& row);

// One save of one list. Each failing operation throws StepFailure with a description that
// names the file, the reason and what became of the file.
class ResultFileWriter {
public:
    explicit ResultFileWriter(QString path);
    ~ResultFileWriter();  // discards what was not committed
    ResultFileWriter(const ResultFileWriter&) = delete;
    ResultFileWriter& operator=(const ResultFileWriter&) = delete;

    // Starts the new content. Refuses a folder and any existing item that is not a regular
    // file (a device or a pipe is never written or replaced). A link is followed: the file it
    // points to gets the new content and the link stays.
    void open();
    // Adds one row's entry.
    void writeRow(const QString& row);
    // Puts the new content in place of the chosen file (keeping its permissions).
    void commit();
    // Drops the new content; the chosen file stays as it was. Safe to call at any time.
    void discard();

    bool isOpen() const { return file_ != nullptr; }
    const QString& path() const { return path_; }

private:
    [[noreturn]] void fail(const QString& action, const QString& reason);
    void writePending();

    QString path_;
    bool existed_ = false;
    std::unique_ptr<QSaveFile> file_;
    QByteArray pending_;  // entries not yet handed to the file
};
