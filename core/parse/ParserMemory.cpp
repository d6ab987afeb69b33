#include "parse/ParserMemory.h"

#include "common/ProcessLimits.h"
#include "parse/Libxml.h"
#include "parse/StartTagLimits.h"
#include "parse/XmlErrorCapture.h"

#include <libxml/parser.h>
#include <libxml/xmlmemory.h>

#include <malloc.h>
#include <pthread.h>
#include <sys/resource.h>
#if BRELLIX_MIMALLOC
#include <mimalloc.h>
#endif
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

namespace {

thread_local ParserMemoryBudget* tCurrent = nullptr;
std::atomic<std::size_t> gLimit{0};

constexpr std::size_t kMiB = std::size_t{1} << 20;

// The memory taken by all budgets alive, in the blocks they hold.
std::atomic<long long> gRunReserved{0};
constexpr long long kReserveBlock = 1 << 20;

// The number in a cgroup's limit file; nothing for "max", a missing file or anything else.
std::optional<std::size_t> cgroupLimit(const std::string& file) {
    std::ifstream in(file);
    unsigned long long value = 0;
    if (!(in >> value))
        return std::nullopt;
    return static_cast<std::size_t>(value);
}

// The least memory limit of the cgroups this process is in, and of the groups above them.
std::size_t cgroupLimits(std::size_t least) {
    for (const CgroupFolder& folder : CgroupFolders("memory")) {
        const std::string file =
            folder.path + (folder.unified ? "/memory.max" : "/memory.limit_in_bytes");
        if (const std::optional<std::size_t> limit = cgroupLimit(file))
            least = std::min(least, *limit);
    }
    return least;
}

std::size_t available() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    std::size_t least = pages > 0 && pageSize > 0 ? static_cast<std::size_t>(pages) * pageSize
                                                  : std::size_t{4096} * kMiB;
    least = cgroupLimits(least);
    for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
        struct rlimit limit {};
        if (::getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
            least = std::min(least, static_cast<std::size_t>(limit.rlim_cur));
    }
    return std::max(least, 64 * kMiB);
}

// An eighth of what the process may use, at least 512 MB and at most 4 GB, and never more than
// half of it.
std::size_t defaultLimit() {
    const std::size_t memory = ProcessMemoryAvailable();
    return std::min(std::clamp(memory / 8, 512 * kMiB, 4096 * kMiB), memory / 2);
}

// The size the allocator really handed out for `block` (what a free gives back).
long long sizeOf(void* block) {
    return block != nullptr ? static_cast<long long>(::malloc_usable_size(block)) : 0;
}

// What must stay free of the thread's stack when an allocation is made during a check: room for
// the frames a validator pushes between two of its allocations.
constexpr std::uintptr_t kStackReserve = 1 * kMiB;

// The lowest address the calling thread's stack may reach (it grows down), or 0 if unknown.
std::uintptr_t stackLimit() {
    thread_local const std::uintptr_t limit = [] {
        pthread_attr_t attributes;
        if (pthread_getattr_np(pthread_self(), &attributes) != 0)
            return std::uintptr_t{0};
        void* low = nullptr;
        std::size_t size = 0;
        const bool known = pthread_attr_getstack(&attributes, &low, &size) == 0;
        pthread_attr_destroy(&attributes);
        return known ? reinterpret_cast<std::uintptr_t>(low) : std::uintptr_t{0};
    }();
    return limit;
}

bool stackNearlyFull() {
    const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    const std::uintptr_t limit = stackLimit();
    return limit != 0 && here < limit + kStackReserve;
}

// Whether `budget` refuses any allocation now: the stack is nearly used up, or its deadline
// has passed.
bool refusesAll(ParserMemoryBudget& budget) {
    if (stackNearlyFull()) {
        budget.refuseForStack();
        return true;
    }
    return !budget.inTime();
}

// The counting functions. They call the C allocator, so memory that the parser allocated
// before they were installed can still be freed through them.
void* countedMalloc(std::size_t size) {
    ParserMemoryBudget* budget = tCurrent;
    if (budget == nullptr)
        return std::malloc(size);
    if (refusesAll(*budget))
        return nullptr;
    void* block = std::malloc(size);
    if (block != nullptr && !budget->take(sizeOf(block))) {
        std::free(block);
        return nullptr;
    }
    return block;
}

void* countedRealloc(void* block, std::size_t size) {
    ParserMemoryBudget* budget = tCurrent;
    if (budget == nullptr)
        return std::realloc(block, size);
    if (refusesAll(*budget))
        return nullptr;
    if (StartTagLimits* limits = StartTagLimits::of(budget->stoppedContext());
        limits != nullptr && !limits->mayGrow(block, size))
        return nullptr;  // the parse is stopped, and says why
    const long long before = sizeOf(block);
    if (!budget->take(static_cast<long long>(size) - before))
        return nullptr;  // the old block stays valid, as with a failed realloc
    void* moved = std::realloc(block, size);
    budget->take(moved != nullptr ? sizeOf(moved) - static_cast<long long>(size)
                                  : before - static_cast<long long>(size));
    return moved;
}

void countedFree(void* block) {
    if (ParserMemoryBudget* budget = tCurrent)
        budget->take(-sizeOf(block));
    std::free(block);
}

char* countedStrdup(const char* text) {
    const std::size_t size = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(countedMalloc(size));
    if (copy != nullptr)
        std::memcpy(copy, text, size);
    return copy;
}

}  // namespace

void InstallParserAllocator() {
    xmlMemSetup(countedFree, countedMalloc, countedRealloc, countedStrdup);
}

void ReleaseFreedParserMemory() {
#if BRELLIX_MIMALLOC
    // The heaps of ended threads are taken over by the calling thread's heap, which a thread
    // gets with its first allocation (before that, a collection finds nothing to collect).
    mi_free(mi_malloc(1));
    mi_collect(true);
#elif defined(__GLIBC__)
    malloc_trim(0);
#endif
}

std::size_t ProcessMemoryAvailable() {
    // Asked once: the limits do not change while the program runs.
    static const std::size_t bytes = available();
    return bytes;
}

std::size_t ParserMemoryRunLimit() {
    // What one file alone may take at most (its limit, and as much again while its parse
    // winds down), for all checks together.
    static const std::size_t bytes = std::min(2 * defaultLimit(), ProcessMemoryAvailable() / 2);
    return bytes;
}

std::size_t ParserMemoryLimit() {
    // The machine's memory does not change while the program runs (asking costs a system call,
    // once per file otherwise).
    static const std::size_t byDefault = defaultLimit();
    const std::size_t chosen = gLimit.load();
    return chosen != 0 ? chosen : byDefault;
}

void SetParserMemoryLimit(std::size_t bytes) {
    gLimit.store(bytes);
}

ParserMemoryBudget::ParserMemoryBudget()
    : previous_(tCurrent), limit_(static_cast<long long>(ParserMemoryLimit())) {
    tCurrent = this;
}

ParserMemoryBudget::~ParserMemoryBudget() {
    gRunReserved.fetch_sub(reserved_);
    tCurrent = previous_;
}

ParserMemoryBudget* ParserMemoryBudget::current() {
    return tCurrent;
}

void ParserMemoryBudget::refuseForStack() {
    if (!stackRanShort_ && context_ != nullptr)
        libxml::StopParse(context_);
    stackRanShort_ = true;
}

void ParserMemoryBudget::stop() {
    if (!exceeded_ && context_ != nullptr) {
        // Only flags: the parser checks them between its steps and winds down, building no
        // more of the tree and reporting nothing more. (xmlStopParser would free the input
        // the parser is reading from, in the middle of an allocation.)
        libxml::StopParse(context_);
        // Releases that drop their inputs when the parse ends leave no place to report it at
        // afterwards: it is kept now (exceeded_ is not yet set, but the allocations this makes
        // do not come here again: they are within twice the limit, or refused).
        if constexpr (libxml::kDropsInputsAtEnd) {
            exceeded_ = true;
            if (XmlErrorCapture* capture = XmlErrorCapture::of(context_))
                capture->keepStopPlace(context_);
        }
    }
    exceeded_ = true;
}

bool ParserMemoryBudget::takeBeyondCeiling(long long wanted) {
    if (wanted > limit_) {
        stop();
        // Whatever still allocates after the stop gets some room, but not without end.
        if (wanted > 2 * limit_)
            return false;
    }
    if (wanted > reserved_) {
        // A larger share of the whole process's bound, a block at a time.
        const long long more =
            (wanted - reserved_ + kReserveBlock - 1) / kReserveBlock * kReserveBlock;
        const long long runLimit = static_cast<long long>(ParserMemoryRunLimit());
        if (gRunReserved.fetch_add(more) + more > runLimit) {
            gRunReserved.fetch_sub(more);
            runExhausted_ = true;
            stop();
            return false;
        }
        reserved_ += more;
    }
    used_ = wanted;
    ceiling_ = std::min(exceeded_ ? 2 * limit_ : limit_, reserved_);
    return true;
}
