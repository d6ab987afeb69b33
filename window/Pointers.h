#pragma once
// Pointer pictures read from files of the program folder.

#include <QCursor>
#include <QString>

// Loads a pointer from a .cur or .ico file; a .cur file's own hot spot is kept. Throws
// StepFailure when the file cannot be read as a picture.
QCursor LoadPointerFile(const QString& path);
