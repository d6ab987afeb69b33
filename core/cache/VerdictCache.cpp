#include "cache/VerdictCache.h"

#include "files/Descriptor.h"
#include "files/PathUtil.h"

#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <libxml/parser.h>
#include <xxhash.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <optional>
#include <utility>

namespace {

constexpr char kMagic[] = "BRELLIX-VERDICTS";
constexpr quint32 kFormat = 1;
// A file changed this little before its state was taken may change again within the same tick
// of its clock, unseen by the quick test: its digest decides.
constexpr std::int64_t kRacyNs = 2'000'000'000;
// How often an entry's time of use is written back when nothing else about it changed.
constexpr std::int64_t kUseGranularity = 3600;

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::int64_t nowSeconds() {
    return nowNs() / 1'000'000'000;
}

FileState stateOf(const QByteArray& encodedPath) {
    FileState state;
    struct stat info {};
    if (encodedPath.isEmpty() || ::stat(encodedPath.constData(), &info) != 0 ||
        !S_ISREG(info.st_mode))
        return state;
    state.exists = true;
    state.size = static_cast<std::int64_t>(info.st_size);
    state.modifiedNs = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 +
                       static_cast<std::int64_t>(info.st_mtim.tv_nsec);
    state.changedNs = static_cast<std::int64_t>(info.st_ctim.tv_sec) * 1'000'000'000 +
                      static_cast<std::int64_t>(info.st_ctim.tv_nsec);
    state.inode = static_cast<std::uint64_t>(info.st_ino);
    state.device = static_cast<std::uint64_t>(info.st_dev);
    return state;
}

bool racy(const FileState& state, std::int64_t recordedNs) {
    return std::max(state.modifiedNs, state.changedNs) >= recordedNs - kRacyNs;
}

struct HashState {
    HashState() : state(XXH3_createState()) {
        if (state == nullptr)
            throw std::bad_alloc();
        XXH3_128bits_reset(state);
    }
    ~HashState() { XXH3_freeState(state); }
    HashState(const HashState&) = delete;
    HashState& operator=(const HashState&) = delete;
    XXH3_state_t* state;
};

ContentDigest toDigest(XXH128_hash_t hash) {
    return {hash.low64, hash.high64};
}

std::optional<ContentDigest> digestOfFile(const QByteArray& encodedPath) {
    const Descriptor fd(::open(encodedPath.constData(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return std::nullopt;
    HashState hash;
    std::vector<char> buffer(256 * 1024);
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        XXH3_128bits_update(hash.state, buffer.data(), static_cast<std::size_t>(got));
    }
    return toDigest(XXH3_128bits_digest(hash.state));
}

QByteArray digestBytes(const QByteArray& text) {
    const ContentDigest digest = toDigest(XXH3_128bits(text.constData(), text.size()));
    return QByteArray(reinterpret_cast<const char*>(digest.data()), sizeof digest);
}

QDataStream& operator<<(QDataStream& out, const FileState& s) {
    return out << s.exists << qint64(s.size) << qint64(s.modifiedNs) << qint64(s.changedNs)
               << quint64(s.inode) << quint64(s.device);
}

QDataStream& operator>>(QDataStream& in, FileState& s) {
    qint64 size = 0, modified = 0, changed = 0;
    quint64 inode = 0, device = 0;
    in >> s.exists >> size >> modified >> changed >> inode >> device;
    s.size = size;
    s.modifiedNs = modified;
    s.changedNs = changed;
    s.inode = inode;
    s.device = device;
    return in;
}

QDataStream& operator<<(QDataStream& out, const ContentDigest& d) {
    return out << quint64(d[0]) << quint64(d[1]);
}

QDataStream& operator>>(QDataStream& in, ContentDigest& d) {
    quint64 low = 0, high = 0;
    in >> low >> high;
    d = {low, high};
    return in;
}

QDataStream& operator<<(QDataStream& out, const ParseErrorReport& e) {
    return out << qint32(e.errorCode) << e.url << e.reason << e.srcText << qint32(e.line)
               << qint32(e.linepos) << qint32(e.filepos);
}

QDataStream& operator>>(QDataStream& in, ParseErrorReport& e) {
    qint32 code = 0, line = 0, linepos = 0, filepos = 0;
    in >> code >> e.url >> e.reason >> e.srcText >> line >> linepos >> filepos;
    e.errorCode = code;
    e.line = line;
    e.linepos = linepos;
    e.filepos = filepos;
    return in;
}

QDataStream& operator<<(QDataStream& out, const VerdictCache::Dependency& d) {
    return out << quint8(d.read.kind) << d.read.hasName << d.read.hasId << d.read.name << d.read.id
               << d.read.answer << d.state << d.digest << qint64(d.recordedNs);
}

QDataStream& operator>>(QDataStream& in, VerdictCache::Dependency& d) {
    quint8 kind = 0;
    qint64 recorded = 0;
    in >> kind >> d.read.hasName >> d.read.hasId >> d.read.name >> d.read.id >> d.read.answer >>
        d.state >> d.digest >> recorded;
    if (kind > quint8(RecordedRead::Kind::UriLookup))
        in.setStatus(QDataStream::ReadCorruptData);
    d.read.kind = static_cast<RecordedRead::Kind>(kind);
    d.recordedNs = recorded;
    return in;
}

QByteArray entryBytes(const QByteArray& key, const VerdictCache::Entry& e) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << key << qint64(e.lastUsed) << qint64(e.recordedNs) << e.state << e.digest
        << quint32(e.dependencies.size());
    for (const VerdictCache::Dependency& d : e.dependencies)
        out << d;
    const CheckResult& r = e.result;
    out << r.loaded << r.error << qint32(r.failedStep) << r.failure
        << quint32(r.laterErrors.size());
    for (const ParseErrorReport& later : r.laterErrors)
        out << later;
    return bytes;
}

bool readEntry(const QByteArray& bytes, QByteArray& key, VerdictCache::Entry& e) {
    QDataStream in(bytes);
    in.setVersion(QDataStream::Qt_6_0);
    qint64 lastUsed = 0, recorded = 0;
    quint32 count = 0;
    in >> key >> lastUsed >> recorded >> e.state >> e.digest >> count;
    e.lastUsed = lastUsed;
    e.recordedNs = recorded;
    // Each dependency takes more than 16 bytes: a count beyond that is damage.
    if (in.status() != QDataStream::Ok || count > quint32(bytes.size() / 16))
        return false;
    e.dependencies.resize(count);
    for (VerdictCache::Dependency& d : e.dependencies)
        in >> d;
    CheckResult& r = e.result;
    qint32 step = 0;
    in >> r.loaded >> r.error >> step >> r.failure >> count;
    r.failedStep = step;
    if (in.status() != QDataStream::Ok || count > quint32(bytes.size() / 16))
        return false;
    r.laterErrors.resize(count);
    for (ParseErrorReport& later : r.laterErrors)
        in >> later;
    return in.status() == QDataStream::Ok && in.atEnd() && key.size() == 16;
}

enum class ReadOutcome { Read, Missing, Damaged, OtherBuild };

ReadOutcome readCacheFile(const QString& file, const QByteArray& build,
                          QHash<QByteArray, VerdictCache::Entry>& entries) {
    QFile in(file);
    if (!in.exists())
        return ReadOutcome::Missing;
    if (!in.open(QIODevice::ReadOnly))
        return ReadOutcome::Damaged;
    const QByteArray bytes = in.readAll();
    if (in.error() != QFileDevice::NoError || bytes.size() < 8)
        return ReadOutcome::Damaged;
    const qsizetype body = bytes.size() - 8;
    quint64 stored = 0;
    std::memcpy(&stored, bytes.constData() + body, sizeof stored);
    if (stored != XXH3_64bits(bytes.constData(), static_cast<std::size_t>(body)))
        return ReadOutcome::Damaged;
    QDataStream stream(QByteArray::fromRawData(bytes.constData(), body));
    stream.setVersion(QDataStream::Qt_6_0);
    QByteArray magic;
    quint32 format = 0;
    QByteArray writtenBy;
    quint32 count = 0;
    stream >> magic >> format >> writtenBy >> count;
    if (stream.status() != QDataStream::Ok || magic != kMagic)
        return ReadOutcome::Damaged;
    if (format != kFormat || writtenBy != build)
        return ReadOutcome::OtherBuild;
    QHash<QByteArray, VerdictCache::Entry> read;
    for (quint32 i = 0; i < count; ++i) {
        QByteArray entry;
        stream >> entry;
        QByteArray key;
        VerdictCache::Entry e;
        if (stream.status() != QDataStream::Ok || !readEntry(entry, key, e))
            return ReadOutcome::Damaged;
        read.insert(key, std::move(e));
    }
    if (!stream.atEnd())
        return ReadOutcome::Damaged;
    entries = std::move(read);
    return ReadOutcome::Read;
}

QString lockPathIn(const QString& folder) {
    return QDir(folder).filePath(QStringLiteral("lock"));
}

// Holds the cache folder's lock (shared by every run that uses the folder) while it lives.
class FolderLock {
public:
    explicit FolderLock(const QString& folder)
        : fd_(::open(PathBytes(lockPathIn(folder)).constData(), O_RDWR | O_CREAT | O_CLOEXEC,
                     0644)) {
        if (fd_.get() < 0) {
            error_ = QString::fromLocal8Bit(std::strerror(errno));
            return;
        }
        while (::flock(fd_.get(), LOCK_EX) != 0) {
            if (errno != EINTR) {
                error_ = QString::fromLocal8Bit(std::strerror(errno));
                return;
            }
        }
    }
    // Why the lock could not be taken; empty when it was.
    const QString& error() const { return error_; }

private:
    Descriptor fd_;
    QString error_;
};

}  // namespace

QString VerdictCache::fileIn(const QString& folder) {
    return QDir(folder).filePath(QStringLiteral("verdicts"));
}

QByteArray VerdictCache::buildIdentity() {
    // The program's own file: a rebuild changes its size or time even when the version stays.
    QByteArray self(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", self.data(), self.size() - 1);
    self.resize(length > 0 ? length : 0);
    const FileState program = stateOf(self);
    return QByteArrayLiteral("brellix " BRELLIX_VERSION " ") + self + ' ' +
           QByteArray::number(static_cast<qint64>(program.size)) + ' ' +
           QByteArray::number(static_cast<qint64>(program.modifiedNs)) + " libxml2 " +
           QByteArray(xmlParserVersion);
}

std::unique_ptr<VerdictCache> VerdictCache::open(const QString& folder, const QByteArray& build,
                                                 QStringList& warnings) {
    const QString shown = QDir::toNativeSeparators(folder);
    if (!QDir().mkpath(folder)) {
        warnings.append(QStringLiteral("the cache folder '%1' cannot be made: checking "
                                       "without the cache")
                            .arg(shown));
        return nullptr;
    }
    // The folder may well be inside a work tree: git is told to leave it out.
    QFile ignore(QDir(folder).filePath(QStringLiteral(".gitignore")));
    if (!ignore.exists() && ignore.open(QIODevice::WriteOnly))
        ignore.write("# Made by brellix-check --cache.\n*\n");
    std::unique_ptr<VerdictCache> cache(new VerdictCache);
    {
        const FolderLock lock(folder);
        if (!lock.error().isEmpty() || ::access(PathBytes(folder).constData(), W_OK) != 0) {
            warnings.append(QStringLiteral("the cache folder '%1' cannot be written (%2): "
                                           "checking without the cache")
                                .arg(shown, lock.error().isEmpty()
                                                ? QStringLiteral("permission denied")
                                                : lock.error()));
            return nullptr;
        }
        cache->loaded_ = stateOf(PathBytes(fileIn(folder)));
        switch (readCacheFile(fileIn(folder), build, cache->entries_)) {
            case ReadOutcome::Damaged:
                warnings.append(QStringLiteral("the cache '%1' is damaged or cut short: it is "
                                               "not used, and written afresh")
                                    .arg(QDir::toNativeSeparators(fileIn(folder))));
                break;
            case ReadOutcome::OtherBuild:
                warnings.append(QStringLiteral("the cache '%1' was written by another build "
                                               "of brellix-check or libxml2: it is not used, "
                                               "and written afresh")
                                    .arg(QDir::toNativeSeparators(fileIn(folder))));
                break;
            default:
                break;
        }
    }
    cache->folder_ = folder;
    cache->workingFolder_ = PathBytes(QDir::currentPath());
    cache->build_ = build;
    return cache;
}

QString VerdictCache::clear(const QString& folder) {
    if (!QFileInfo(folder).isDir())
        return QString();
    const FolderLock lock(folder);
    if (!lock.error().isEmpty())
        return lock.error();
    QFile file(fileIn(folder));
    if (file.exists() && !file.remove())
        return file.errorString();
    return QString();
}

VerdictCache::~VerdictCache() = default;

VerdictCache::Current VerdictCache::current(const QByteArray& encodedPath, bool digest) {
    {
        const std::lock_guard hold(currentLock_);
        const auto known = currents_.constFind(encodedPath);
        if (known != currents_.cend() && (known->digested || !digest))
            return *known;
    }
    Current now;
    now.capturedNs = nowNs();
    now.state = stateOf(encodedPath);
    if (digest && now.state.exists) {
        const std::optional<ContentDigest> found = digestOfFile(encodedPath);
        // Changed while it was read: as a file that cannot be read.
        if (!found || stateOf(encodedPath) != now.state)
            now.state.exists = false;
        else
            now.digest = *found;
        now.digested = true;
    }
    const std::lock_guard hold(currentLock_);
    currents_.insert(encodedPath, now);
    return now;
}

bool VerdictCache::answers(const RecordedRead& lookup) {
    const QByteArray question = QByteArray::number(int(lookup.kind)) + '\0' +
                                (lookup.hasName ? lookup.name : QByteArrayLiteral("\1")) + '\0' +
                                (lookup.hasId ? lookup.id : QByteArrayLiteral("\1"));
    {
        const std::lock_guard hold(currentLock_);
        const auto known = answers_.constFind(question);
        if (known != answers_.cend())
            return *known == lookup.answer;
    }
    const QByteArray answer = RepeatedLookup(lookup);
    const std::lock_guard hold(currentLock_);
    answers_.insert(question, answer);
    return answer == lookup.answer;
}

bool VerdictCache::unchanged(Dependency& dependency, bool& refreshed) {
    switch (dependency.read.kind) {
        case RecordedRead::Kind::File: {
            Current now = current(dependency.read.name, false);
            if (!now.state.exists)
                return false;
            if (now.state == dependency.state && !racy(dependency.state, dependency.recordedNs))
                return true;
            now = current(dependency.read.name, true);
            if (!now.state.exists || now.digest != dependency.digest)
                return false;
            if (now.state != dependency.state || now.capturedNs != dependency.recordedNs) {
                dependency.state = now.state;
                dependency.recordedNs = now.capturedNs;
                refreshed = true;
            }
            return true;
        }
        case RecordedRead::Kind::Missing:
            return !current(dependency.read.name, false).state.exists ||
                   ::access(dependency.read.name.constData(), R_OK) != 0;
        case RecordedRead::Kind::EntityLookup:
        case RecordedRead::Kind::UriLookup:
            return answers(dependency.read);
    }
    return false;
}

QByteArray VerdictCache::digestOf(const std::vector<RecordedRead>& reads) {
    QByteArray text;
    for (const RecordedRead& read : reads) {
        text += QByteArray::number(int(read.kind)) + '\0' + read.name + '\0' + read.id + '\0';
        switch (read.kind) {
            case RecordedRead::Kind::File:
            case RecordedRead::Kind::Missing: {
                const Current now = current(read.name, true);
                text += now.state.exists
                            ? QByteArray(reinterpret_cast<const char*>(now.digest.data()),
                                         sizeof now.digest)
                            : QByteArrayLiteral("absent");
                break;
            }
            case RecordedRead::Kind::EntityLookup:
            case RecordedRead::Kind::UriLookup:
                text += RepeatedLookup(read);
                break;
        }
        text += '\n';
    }
    return digestBytes(text);
}

CachedCheck VerdictCache::check(const QString& path, const QByteArray& context,
                                const std::function<CheckResult()>& check) {
    const QByteArray encoded = PathBytes(path);
    const QByteArray key = digestBytes(workingFolder_ + '\0' + encoded + '\0' + context);
    std::optional<Entry> cached;
    {
        const std::lock_guard hold(lock_);
        const auto found = entries_.constFind(key);
        if (found != entries_.cend())
            cached = *found;
    }
    if (cached) {
        bool same = false;
        bool refreshed = false;
        const FileState now = stateOf(encoded);
        if (now.exists && now == cached->state && !racy(cached->state, cached->recordedNs)) {
            same = true;
        } else if (now.exists && now.size == cached->state.size) {
            const std::int64_t taken = nowNs();
            const std::optional<ContentDigest> digest = digestOfFile(encoded);
            if (digest && *digest == cached->digest && stateOf(encoded) == now) {
                same = true;
                refreshed = true;
                cached->state = now;
                cached->recordedNs = taken;
            }
        }
        for (Dependency& dependency : cached->dependencies)
            same = same && unchanged(dependency, refreshed);
        if (same) {
            CachedCheck reused{cached->result, true};
            // Written back when it changed, or for its time of use now and then (the pruning
            // goes by it), not on every run.
            const std::int64_t now = nowSeconds();
            if (refreshed || now - cached->lastUsed > kUseGranularity) {
                cached->lastUsed = now;
                const std::lock_guard hold(lock_);
                entries_.insert(key, std::move(*cached));
                touched_.insert(key, true);
            }
            return reused;
        }
    }

    const std::int64_t recorded = nowNs();
    const FileState before = stateOf(encoded);
    const std::optional<ContentDigest> digest =
        before.exists ? digestOfFile(encoded) : std::nullopt;
    std::vector<RecordedRead> reads;
    CheckResult result;
    {
        const ReadRecorder recorder;
        result = check();
        reads = recorder.reads();
    }
    if (!digest || stateOf(encoded) != before || result.failedStep != 0)
        return CachedCheck{result, false};
    Entry entry;
    entry.lastUsed = nowSeconds();
    entry.recordedNs = recorded;
    entry.state = before;
    entry.digest = *digest;
    entry.result = result;
    for (const RecordedRead& read : reads) {
        Dependency dependency{read, {}, {}, recorded};
        if (read.kind == RecordedRead::Kind::File) {
            const Current now = current(read.name, true);
            if (!now.state.exists)
                return CachedCheck{result, false};
            dependency.state = now.state;
            dependency.digest = now.digest;
            dependency.recordedNs = now.capturedNs;
        }
        entry.dependencies.push_back(std::move(dependency));
    }
    const std::lock_guard hold(lock_);
    entries_.insert(key, std::move(entry));
    touched_.insert(key, true);
    return CachedCheck{result, false};
}

QString VerdictCache::save() {
    const std::lock_guard hold(lock_);
    if (touched_.isEmpty())
        return QString();
    const FolderLock lock(folder_);
    if (!lock.error().isEmpty())
        return lock.error();
    // What other runs wrote meanwhile stays, unless this run knows a newer result. When no run
    // wrote since this one read the file, what it read is what the file holds.
    QHash<QByteArray, Entry> merged;
    const FileState written = stateOf(PathBytes(fileIn(folder_)));
    if (written.exists && written == loaded_)
        merged = entries_;
    else
        readCacheFile(fileIn(folder_), build_, merged);
    for (auto it = touched_.cbegin(); it != touched_.cend(); ++it) {
        const Entry& ours = entries_[it.key()];
        const auto theirs = merged.find(it.key());
        if (theirs == merged.end() || theirs->recordedNs <= ours.recordedNs)
            merged.insert(it.key(), ours);
        else
            theirs->lastUsed = std::max(theirs->lastUsed, ours.lastUsed);
    }
    std::vector<std::pair<std::int64_t, QByteArray>> blobs;
    blobs.reserve(static_cast<std::size_t>(merged.size()));
    for (auto it = merged.cbegin(); it != merged.cend(); ++it)
        blobs.emplace_back(it->lastUsed, entryBytes(it.key(), *it));
    std::stable_sort(blobs.begin(), blobs.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    std::int64_t bytes = 0;
    std::size_t kept = 0;
    while (kept < blobs.size() && bytes + blobs[kept].second.size() + 4 <= kMaxBytes)
        bytes += blobs[kept++].second.size() + 4;

    QByteArray out;
    out.reserve(static_cast<qsizetype>(bytes) + 4096);
    {
        QDataStream stream(&out, QIODevice::WriteOnly);
        stream.setVersion(QDataStream::Qt_6_0);
        stream << QByteArray(kMagic) << kFormat << build_ << quint32(kept);
        for (std::size_t i = 0; i < kept; ++i)
            stream << blobs[i].second;
    }
    const quint64 check = XXH3_64bits(out.constData(), static_cast<std::size_t>(out.size()));
    out.append(reinterpret_cast<const char*>(&check), sizeof check);
    QSaveFile file(fileIn(folder_));
    if (!file.open(QIODevice::WriteOnly) || file.write(out) != out.size() || !file.commit())
        return file.errorString();
    touched_.clear();
    return QString();
}
