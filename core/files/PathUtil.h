#pragma once
// Small stateless routines on path text and on the file system, shared by the whole program.
// Paths are taken exactly as passed: no trimming, no case change, no expansion.

#include <QByteArray>
#include <QByteArrayView>
#include <QChar>
#include <QString>
#include <QStringView>

#include <QDir>
#include <QUrl>

// The platform's separator, "/" here.
inline QChar NativeSeparator() {
    return QDir::separator();
}

// The part of the path after its last separator (the whole path when there is none).
QString FileNameOf(const QString& path, QChar separator = NativeSeparator());

// Collapses doubled separators, each pair to one, in one left-to-right pass. With the
// backslash as separator a leading run (network path) becomes exactly two; other separators
// have no network paths that start with two, so their leading run is collapsed like any other.
QString NormalizePath(const QString& path, QChar separator = NativeSeparator());

// True when the file system can tell the item's last-modification time (any existing item).
bool FileExists(const QString& path);
// True when the path names an existing folder (links followed).
bool IsDirectory(const QString& path);
// True when the path names an existing regular file (or a link to one) that the process may
// open for reading. FIFOs, sockets and devices are never openable and are never opened.
bool IsOpenableFile(const QString& path);

// Names in the file system are bytes, UTF-8 text as a rule. A name read from the file system
// keeps each byte that is not part of UTF-8 text as a character of its own, U+DC80 to U+DCFF
// for the bytes 0x80 to 0xFF (a lone surrogate, which no text holds), so that every name and
// every path built from it leads back to its bytes. Such characters are "kept bytes".

// The text of a name or path from the file system (a listing, the command line, a list file).
QString PathFromBytes(QByteArrayView bytes);

// The bytes of a name or path, kept bytes as they were; a lone surrogate that stands for no
// byte (no name read from the file system holds one) becomes U+FFFD. `exact`, when given, says
// whether there was none.
QByteArray PathBytes(QStringView path, bool* exact = nullptr);

// True when the text holds a kept byte.
bool HoldsKeptBytes(QStringView text);

// The text as it is shown: each kept byte (and any other lone surrogate) as U+FFFD.
QString ShownText(const QString& text);

// The path made absolute against the current folder and cleaned of "." and ".." parts, as
// text only (QFileInfo::absoluteFilePath goes through the file-name encoding and loses kept
// bytes).
QString AbsolutePath(const QString& path);

// The file URI of an absolute path, in the encoded form a parser resolves references against
// (each byte of the path escaped as needed, kept bytes as themselves).
QByteArray FileUrlOf(const QString& absolutePath);

// The local path of a file URI (a dropped file's), its bytes kept; empty for another URI.
QString LocalPathOf(const QUrl& url);

// The path in the file-name encoding; empty when it is empty, too long for the file system,
// holds a NUL or a lone surrogate that stands for no byte (no call may be made with it then).
QByteArray EncodedPath(const QString& path);

// The longest path, in bytes of the file-name encoding, that the file-system tests accept.
int PathLengthLimit();
