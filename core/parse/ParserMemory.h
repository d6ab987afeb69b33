#pragma once
// Inside the XML check only: how much memory the parser may take for one file. A document
// tree takes many times the file's size (a file of small elements ten to twenty times), so a
// large file could otherwise take all the memory of the machine. While a budget lives, every
// allocation the parser makes on this thread is counted; once the count passes the limit the
// parse is told to stop, and past twice the limit allocations fail.
//
// All budgets alive at once, on every thread, also share one bound for the whole process: what
// one file alone may take (twice the default limit), and never more than half of the memory
// the process may use (the machine's, or less when a cgroup's memory.max or limit_in_bytes,
// RLIMIT_AS or RLIMIT_DATA says so). A budget holds its share of it in blocks of a megabyte;
// once the shared bound would be passed, that budget's parse is stopped and its allocations
// fail, so that workers checking together never take more than one file could.

#include <chrono>
#include <cstddef>

struct _xmlParserCtxt;

// Routes the parser's allocations through the counting functions. Once per process, before
// any other thread uses the parser (InitXmlChecking does it).
void InstallParserAllocator();

// The memory the process may use: the least of the machine's memory, the cgroup's limit (v2
// memory.max, v1 memory.limit_in_bytes, of the process's group and the groups above it) and
// the RLIMIT_AS and RLIMIT_DATA soft limits.
std::size_t ProcessMemoryAvailable();
// The bound that all budgets share: twice the default limit for one file, at most half of
// ProcessMemoryAvailable().
std::size_t ParserMemoryRunLimit();
// The limit for one file: an eighth of the memory the process may use, at least 512 MB and at
// most 4 GB, and never more than ParserMemoryRunLimit(), unless SetParserMemoryLimit chose
// another.
std::size_t ParserMemoryLimit();
// Sets the limit for the checks that start from now on (0: back to the default).
void SetParserMemoryLimit(std::size_t bytes);

// Gives the memory that finished checks freed back to the system. Worker threads keep what
// they freed for their next documents, and a worker that ends leaves it behind: after a
// 100 MB file almost a gigabyte, held for as long as the program runs. Takes about 50 ms
// a gigabyte; call it on a thread that may take that time, after the workers are done.
void ReleaseFreedParserMemory();

class ParserMemoryBudget {
public:
    ParserMemoryBudget();
    ~ParserMemoryBudget();
    ParserMemoryBudget(const ParserMemoryBudget&) = delete;
    ParserMemoryBudget& operator=(const ParserMemoryBudget&) = delete;

    // The parser context that is stopped when the limit is passed. It must outlive the budget
    // or be unset (nullptr) before it goes.
    void stopOnExcess(_xmlParserCtxt* context) { context_ = context; }
    _xmlParserCtxt* stoppedContext() const { return context_; }

    std::size_t limit() const { return static_cast<std::size_t>(limit_); }
    // The parser's memory now, counted since the budget began.
    std::size_t used() const { return used_ > 0 ? static_cast<std::size_t>(used_) : 0; }
    // True once the parser wanted more than the limit, or than the whole process's bound left.
    bool exceeded() const { return exceeded_; }
    // True once the bound shared by all budgets refused this one more memory.
    bool runExhausted() const { return runExhausted_; }
    // True once an allocation was refused because the thread's stack was nearly used up: the
    // validators of libxml2 recurse once or more for each level of a document's nesting (RELAX
    // NG on the tree of an element it cannot check as it streams), and a deep enough document
    // would overflow the stack. Refusing their allocations there makes them give up instead;
    // the parse is stopped.
    bool stackRanShort() const { return stackRanShort_; }
    // From `deadline` on, every allocation is refused (and the parse stopped): a schema
    // compiler that runs too long then gives up at its next allocation.
    void refuseFrom(std::chrono::steady_clock::time_point deadline) {
        deadline_ = deadline;
        hasDeadline_ = true;
    }
    // True once an allocation was refused because the deadline had passed.
    bool timedOut() const { return timedOut_; }

    // For the counting functions: the budget of the check running on this thread, or null.
    static ParserMemoryBudget* current();
    // Counts `bytes` more (or fewer, when negative). False when they must be refused. Called
    // for every block the parser takes or gives back, so the common case is inline.
    bool take(long long bytes) {
        const long long wanted = used_ + bytes;
        if (bytes > 0 && wanted > ceiling_)
            return takeBeyondCeiling(wanted);
        used_ = wanted;
        return true;
    }

    // For the counting functions: an allocation refused for the stack (see stackRanShort).
    void refuseForStack();
    // For the counting functions: false when the deadline has passed.
    bool inTime() {
        if (!hasDeadline_)
            return true;
        if (timedOut_ || std::chrono::steady_clock::now() >= deadline_) {
            timedOut_ = true;
            stop();
            return false;
        }
        return true;
    }

private:
    bool takeBeyondCeiling(long long wanted);
    void stop();

    ParserMemoryBudget* previous_;
    long long limit_;
    long long used_ = 0;
    long long reserved_ = 0;  // this budget's share of the bound for the whole process
    long long ceiling_ = 0;   // up to here take() needs nothing more: min(limit, reserved)
    bool exceeded_ = false;
    bool runExhausted_ = false;
    bool stackRanShort_ = false;
    bool hasDeadline_ = false;
    bool timedOut_ = false;
    std::chrono::steady_clock::time_point deadline_{};
    _xmlParserCtxt* context_ = nullptr;
};
