#pragma once
// The local files that checks read besides the documents themselves (DTDs, external entities,
// schema documents, XML catalogs), for a caller that must never replace one of them. Nothing
// is recorded until RecordLoadedFiles(true); then every thread's loads are, once per file.

#include <QString>

#include <vector>

struct LoadedFile {
    unsigned long long device = 0;
    unsigned long long inode = 0;
    QString path;  // as it was opened (possibly relative to the working folder)
};

// Starts (or stops) recording.
void RecordLoadedFiles(bool on);
// Records the file that `encodedPath` (in the file-name encoding) names, when recording.
void NoteLoadedFile(const char* encodedPath);
// The files recorded so far, each once.
std::vector<LoadedFile> LoadedFiles();
