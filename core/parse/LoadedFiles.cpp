#include "parse/LoadedFiles.h"

#include <QFile>

#include <sys/stat.h>
#include <atomic>
#include <map>
#include <mutex>
#include <utility>

namespace {

std::atomic<bool> gRecording{false};
std::mutex gLock;
// By device and inode, so that each file is kept once whatever the names it was reached by.
std::map<std::pair<unsigned long long, unsigned long long>, QString> gFiles;

}  // namespace

void RecordLoadedFiles(bool on) {
    gRecording.store(on);
}

void NoteLoadedFile(const char* encodedPath) {
    if (!gRecording.load(std::memory_order_relaxed) || encodedPath == nullptr)
        return;
    struct stat info {};
    if (::stat(encodedPath, &info) != 0)
        return;
    const std::lock_guard<std::mutex> hold(gLock);
    gFiles.try_emplace({static_cast<unsigned long long>(info.st_dev),
                        static_cast<unsigned long long>(info.st_ino)},
                       QFile::decodeName(encodedPath));
}

std::vector<LoadedFile> LoadedFiles() {
    const std::lock_guard<std::mutex> hold(gLock);
    std::vector<LoadedFile> files;
    files.reserve(gFiles.size());
    for (const auto& [identity, path] : gFiles)
        files.push_back(LoadedFile{identity.first, identity.second, path});
    return files;
}
