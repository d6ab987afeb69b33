#include "parse/LoadedFiles.h"

#include "parse/XmlString.h"

#include <QFile>

#include <libxml/catalog.h>

#include <sys/stat.h>
#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <utility>

namespace {

std::atomic<bool> gRecording{false};
std::mutex gLock;
// By device and inode, so that each file is kept once whatever the names it was reached by.
std::map<std::pair<unsigned long long, unsigned long long>, QString> gFiles;
thread_local ReadRecorder* tRecorder = nullptr;

}  // namespace

void RecordLoadedFiles(bool on) {
    gRecording.store(on);
}

void NoteLoadedFile(const char* encodedPath) {
    if (encodedPath != nullptr && tRecorder != nullptr)
        NoteRead(RecordedRead{RecordedRead::Kind::File, QByteArray(encodedPath), {}, {}});
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

ReadRecorder::ReadRecorder() : outer_(tRecorder) {
    tRecorder = this;
}

ReadRecorder::~ReadRecorder() {
    tRecorder = outer_;
    if (outer_ != nullptr)
        outer_->add(reads_);
}

void ReadRecorder::add(const std::vector<RecordedRead>& reads) {
    for (const RecordedRead& read : reads)
        if (std::find(reads_.begin(), reads_.end(), read) == reads_.end())
            reads_.push_back(read);
}

void NoteRead(RecordedRead read) {
    if (tRecorder == nullptr)
        return;
    std::vector<RecordedRead>& reads = tRecorder->reads_;
    if (std::find(reads.begin(), reads.end(), read) == reads.end())
        reads.push_back(std::move(read));
}

void NoteMissingFile(const QByteArray& encodedPath) {
    NoteRead(RecordedRead{RecordedRead::Kind::Missing, encodedPath, {}, {}});
}

namespace {

QByteArray answerOf(xmlChar* found) {
    const XmlString owned(found);
    return owned ? QByteArray(reinterpret_cast<const char*>(owned.get())) : QByteArray();
}

QByteArray entityLookup(const char* url, const char* id) {
    QByteArray found;
    if (id != nullptr || url != nullptr)
        found = answerOf(xmlCatalogResolve(reinterpret_cast<const xmlChar*>(id),
                                           reinterpret_cast<const xmlChar*>(url)));
    if (found.isEmpty() && url != nullptr)
        found = answerOf(xmlCatalogResolveURI(reinterpret_cast<const xmlChar*>(url)));
    return found;
}

QByteArray uriLookup(const QByteArray& address) {
    const xmlChar* asked = reinterpret_cast<const xmlChar*>(address.constData());
    QByteArray found = answerOf(xmlCatalogResolveURI(asked));
    if (found.isEmpty())
        found = answerOf(xmlCatalogResolveSystem(asked));
    return found;
}

}  // namespace

QByteArray CatalogEntityLookup(const char* url, const char* id) {
    const QByteArray found = entityLookup(url, id);
    RecordedRead read{RecordedRead::Kind::EntityLookup,
                      url != nullptr ? QByteArray(url) : QByteArray(),
                      id != nullptr ? QByteArray(id) : QByteArray(), found};
    read.hasName = url != nullptr;
    read.hasId = id != nullptr;
    NoteRead(std::move(read));
    return found;
}

QByteArray CatalogUriLookup(const QByteArray& address) {
    const QByteArray found = uriLookup(address);
    NoteRead(RecordedRead{RecordedRead::Kind::UriLookup, address, {}, found});
    return found;
}

QByteArray RepeatedLookup(const RecordedRead& lookup) {
    if (lookup.kind == RecordedRead::Kind::UriLookup)
        return uriLookup(lookup.name);
    return entityLookup(lookup.hasName ? lookup.name.constData() : nullptr,
                        lookup.hasId ? lookup.id.constData() : nullptr);
}
