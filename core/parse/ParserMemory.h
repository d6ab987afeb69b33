#pragma once
// Inside the XML check only: how much memory the parser may take for one file. A document
// tree takes many times the file's size (a file of small elements ten to twenty times), so a
// large file could otherwise take all the memory of the machine. While a budget lives, every
// allocation the parser makes on this thread is counted; once the count passes the limit the
// parse is told to stop, and past twice the limit allocations fail.

#include <cstddef>

struct _xmlParserCtxt;

// Routes the parser's allocations through the counting functions. Once per process, before
// any other thread uses the parser (InitXmlChecking does it).
void InstallParserAllocator();

// The limit for one file: an eighth of the machine's memory, at least 512 MB and at most
// 4 GB, unless SetParserMemoryLimit chose another.
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
    // True once the parser wanted more than the limit.
    bool exceeded() const { return exceeded_; }

    // For the counting functions: the budget of the check running on this thread, or null.
    static ParserMemoryBudget* current();
    // Counts `bytes` more (or fewer, when negative). False when they must be refused. Called
    // for every block the parser takes or gives back, so the common case is inline.
    bool take(long long bytes) {
        const long long wanted = used_ + bytes;
        if (bytes > 0 && wanted > limit_)
            return takeBeyondLimit(wanted);
        used_ = wanted;
        return true;
    }

private:
    bool takeBeyondLimit(long long wanted);

    ParserMemoryBudget* previous_;
    long long limit_;
    long long used_ = 0;
    bool exceeded_ = false;
    _xmlParserCtxt* context_ = nullptr;
};
