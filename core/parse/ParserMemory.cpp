#include "parse/ParserMemory.h"

#include "parse/Libxml.h"
#include "parse/StartTagLimits.h"
#include "parse/XmlErrorCapture.h"

#include <libxml/parser.h>
#include <libxml/xmlmemory.h>

#include <malloc.h>
#if BRELLIX_MIMALLOC
#include <mimalloc.h>
#endif
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

thread_local ParserMemoryBudget* tCurrent = nullptr;
std::atomic<std::size_t> gLimit{0};

constexpr std::size_t kMiB = std::size_t{1} << 20;

std::size_t defaultLimit() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    const std::size_t physical = pages > 0 && pageSize > 0
                                     ? static_cast<std::size_t>(pages) * pageSize
                                     : std::size_t{4096} * kMiB;
    return std::clamp(physical / 8, 512 * kMiB, 4096 * kMiB);
}

// The size the allocator really handed out for `block` (what a free gives back).
long long sizeOf(void* block) {
    return block != nullptr ? static_cast<long long>(::malloc_usable_size(block)) : 0;
}

// The counting functions. They call the C allocator, so memory that the parser allocated
// before they were installed can still be freed through them.
void* countedMalloc(std::size_t size) {
    ParserMemoryBudget* budget = tCurrent;
    if (budget == nullptr)
        return std::malloc(size);
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
    tCurrent = previous_;
}

ParserMemoryBudget* ParserMemoryBudget::current() {
    return tCurrent;
}

bool ParserMemoryBudget::takeBeyondLimit(long long wanted) {
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
    // Whatever still allocates after the stop gets some room, but not without end.
    if (wanted > 2 * limit_)
        return false;
    used_ = wanted;
    return true;
}
