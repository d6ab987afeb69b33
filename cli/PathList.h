#pragma once
// The --files-from lists: paths one per line, or separated by NUL characters.

#include "Output.h"

#include <QString>
#include <QStringList>

#include <cstddef>
#include <optional>

// No path is longer than this (the system's PATH_MAX, with room for a CR LF): a longer entry in
// a list is an error, so that a list without line breaks (/dev/zero) cannot take all memory.
inline constexpr std::size_t kMaxListEntryBytes = 4096 + 2;

// The paths that the list `list` names ("-": standard input), read as a stream; empty entries
// are left out, and with `nulSeparated` entries end at NUL characters instead of line breaks
// (LF, with a CR before it dropped). Nothing, after a message on `err`, when the list cannot be
// read or holds an entry longer than kMaxListEntryBytes.
std::optional<QStringList> ReadPathList(const QString& list, bool nulSeparated, Output& err);
