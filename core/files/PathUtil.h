#pragma once
// Small stateless routines on path text and on the file system, shared by the whole program.
// Paths are taken exactly as passed: no trimming, no case change, no expansion.

#include <QByteArray>
#include <QChar>
#include <QString>

#include <QDir>

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

// The path in the file-name encoding; empty when it is empty, too long for the file system or
// holds a NUL (no call may be made with it then).
QByteArray EncodedPath(const QString& path);

// The longest path, in bytes of the file-name encoding, that the file-system tests accept.
int PathLengthLimit();
