#pragma once
// The local files that checks read besides the documents themselves (DTDs, external entities,
// schema documents, XML catalogs), for a caller that must never replace one of them. Nothing
// is recorded until RecordLoadedFiles(true); then every thread's loads are, once per file.

#include <QByteArray>
#include <QString>

#include <cstdint>
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

// What one piece of work read besides its document, on its own thread: every file opened, every
// local file that was looked for and could not be opened, and every question put to the XML
// catalogs with its answer. Asking the same questions again later tells whether the work would
// read the same things (see the verdict cache).
struct RecordedRead {
    enum class Kind : std::uint8_t {
        File,          // `name` was opened and read
        Missing,       // `name` was looked for and could not be opened
        EntityLookup,  // the catalogs were asked for system id `name`, public id `id`
        UriLookup,     // the catalogs were asked for the URI `name`
    };
    Kind kind = Kind::File;
    QByteArray name;    // a path in the file-name encoding, or what the catalog was asked
    QByteArray id;      // EntityLookup: the public id (empty: none)
    QByteArray answer;  // the lookups: what the catalogs answered (empty: nothing)
    bool hasId = false;
    bool hasName = true;

    bool operator==(const RecordedRead&) const = default;
};

// Records the reads of this thread while it lives. Recorders nest: an inner one's reads are
// also the outer one's.
class ReadRecorder {
public:
    ReadRecorder();
    ~ReadRecorder();
    ReadRecorder(const ReadRecorder&) = delete;
    ReadRecorder& operator=(const ReadRecorder&) = delete;

    const std::vector<RecordedRead>& reads() const { return reads_; }
    // Adds reads made earlier (by work whose outcome this thread reuses).
    void add(const std::vector<RecordedRead>& reads);

private:
    friend void NoteRead(RecordedRead read);
    ReadRecorder* outer_;
    std::vector<RecordedRead> reads_;
};

// Records a read on this thread's recorder, when there is one.
void NoteRead(RecordedRead read);
// Records that `encodedPath` was looked for and could not be opened.
void NoteMissingFile(const QByteArray& encodedPath);

// The catalogs' answers, as the entity loader and the schema hints ask them (recorded).
QByteArray CatalogEntityLookup(const char* url, const char* id);
QByteArray CatalogUriLookup(const QByteArray& address);
// Asks the question of a recorded lookup again (not recorded).
QByteArray RepeatedLookup(const RecordedRead& lookup);
