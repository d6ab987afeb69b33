#include "results/ResultFile.h"

#include "common/ErrorReport.h"
#include "files/PathUtil.h"

#include <QFileInfo>
#include <QSaveFile>

QByteArray ResultFileEntry(const QString& row) {
    // A path's kept bytes are written as the bytes they stand for.
    return PathBytes(row + QStringLiteral("\r\n"));
}

namespace {
// Entries are collected and handed to the file in blocks of this size.
constexpr qsizetype kBlockSize = 64 * 1024;
}  // namespace

ResultFileWriter::ResultFileWriter(QString path) : path_(std::move(path)) {}

ResultFileWriter::~ResultFileWriter() {
    discard();
}

void ResultFileWriter::fail(const QString& action, const QString& reason) {
    discard();
    throw StepFailure(QStringLiteral("%1 \"%2\": %3. %4")
                          .arg(action, path_, reason,
                               existed_ ? QStringLiteral("The file was left unchanged.")
                                        : QStringLiteral("Nothing was saved.")));
}

void ResultFileWriter::open() {
    discard();
    const QFileInfo target(path_);
    existed_ = target.exists();
    const QString action = QStringLiteral("Cannot save to");
    if (target.isDir())
        fail(action, QStringLiteral("This is a folder"));
    if (existed_ && !target.isFile())
        fail(action, QStringLiteral("This is not a regular file"));
    pending_.clear();
    file_ = std::make_unique<QSaveFile>(path_);
    // Unbuffered: the blocks go straight to the file, and a failing write reports its reason
    // (a buffered QFileDevice reports "Unknown error" for a failed flush).
    if (!file_->open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        fail(action, file_->errorString());
}

void ResultFileWriter::writeRow(const QString& row) {
    if (!file_)
        fail(QStringLiteral("Cannot write to"), QStringLiteral("The save was cancelled"));
    pending_ += ResultFileEntry(row);
    if (pending_.size() >= kBlockSize)
        writePending();
}

void ResultFileWriter::writePending() {
    // A write may take only part of a block (a file system nearly full): the rest is written
    // again until it is all taken or the file system gives a reason for refusing it.
    qsizetype done = 0;
    while (done < pending_.size()) {
        const qint64 written = file_->write(pending_.constData() + done, pending_.size() - done);
        if (written <= 0)
            fail(QStringLiteral("Cannot write to"), file_->errorString());
        done += written;
    }
    pending_.clear();
}

void ResultFileWriter::commit() {
    if (!file_)
        fail(QStringLiteral("Cannot save to"), QStringLiteral("The save was cancelled"));
    writePending();
    if (!file_->commit())
        fail(QStringLiteral("Cannot save to"), file_->errorString());
    file_.reset();
}

void ResultFileWriter::discard() {
    if (!file_)
        return;
    // An uncommitted QSaveFile removes its temporary file when it goes.
    file_->cancelWriting();
    file_.reset();
    pending_.clear();
}
