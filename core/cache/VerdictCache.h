#pragma once
// Results of earlier checks, kept between runs in one file of a cache folder and reused only
// when nothing that could change them changed: the file's content (its size, times and inode
// serve as the quick test, its xxHash digest decides), every file the check read besides it,
// every file it looked for and did not find, every answer the XML catalogs gave it, what the
// check was asked, and the build of the program and of libxml2. Plain code; check() is safe on
// worker threads.

#include "parse/CheckResult.h"
#include "parse/LoadedFiles.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

using ContentDigest = std::array<std::uint64_t, 2>;

// A file as the quick test sees it; `exists` only for a regular file that can be read.
struct FileState {
    bool exists = false;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0;
    std::uint64_t inode = 0;
    std::uint64_t device = 0;

    bool operator==(const FileState&) const = default;
};

struct CachedCheck {
    CheckResult result;
    bool fromCache = false;
};

class VerdictCache {
public:
    // The file of the cache in `folder`.
    static QString fileIn(const QString& folder);
    // What names this build: the program's version and its own file, and the libxml2 it runs
    // on. A cache written by another build is not used.
    static QByteArray buildIdentity();

    // Opens the cache in `folder` (made when missing) and reads what it holds. Null when the
    // folder cannot be written; what went wrong, and a cache that could not be used, are told
    // in `warnings`, one line each.
    static std::unique_ptr<VerdictCache> open(const QString& folder, const QByteArray& build,
                                              QStringList& warnings);
    // Empties the cache in `folder`; an error text, empty when it worked.
    static QString clear(const QString& folder);

    ~VerdictCache();
    VerdictCache(const VerdictCache&) = delete;
    VerdictCache& operator=(const VerdictCache&) = delete;

    // The result of checking `path` (as given, relative to the working folder) when asked
    // `context`: from the cache when nothing it depends on changed, else from `check`, whose
    // reads are recorded and whose result is kept (unless the check failed, or the file changed
    // while it ran).
    CachedCheck check(const QString& path, const QByteArray& context,
                      const std::function<CheckResult()>& check);
    // A digest of what `reads` name, as they are now (for the reads of a run's set-up, such as
    // a schema's compile, that the context of its checks must include).
    QByteArray digestOf(const std::vector<RecordedRead>& reads);

    // Writes what this run added or used, merged under a lock with what other runs wrote
    // meanwhile, the least recently used entries pruned past the size bound; atomically. An
    // error text, empty when it worked.
    QString save();

    // The most the cache's file holds; the least recently used entries go first.
    static constexpr std::int64_t kMaxBytes = 64LL * 1024 * 1024;

    struct Dependency {
        RecordedRead read;
        FileState state;  // File: as it was recorded
        ContentDigest digest{};
        std::int64_t recordedNs = 0;
    };
    struct Entry {
        std::int64_t lastUsed = 0;  // seconds since the epoch
        std::int64_t recordedNs = 0;
        FileState state;
        ContentDigest digest{};
        std::vector<Dependency> dependencies;
        CheckResult result;
    };

private:
    VerdictCache() = default;
    struct Current {
        FileState state;
        bool digested = false;
        ContentDigest digest{};
        std::int64_t capturedNs = 0;
    };
    Current current(const QByteArray& encodedPath, bool digest);
    bool unchanged(Dependency& dependency, bool& refreshed);
    bool answers(const RecordedRead& lookup);

    QString folder_;
    QByteArray build_;
    QByteArray workingFolder_;
    FileState loaded_;  // the cache's file as this run read it
    std::mutex lock_;
    QHash<QByteArray, Entry> entries_;
    QHash<QByteArray, bool> touched_;  // keys this run added or used
    std::mutex currentLock_;
    QHash<QByteArray, Current> currents_;  // the files as this run found them
    QHash<QByteArray, QByteArray> answers_;
};
