#pragma once
// A file descriptor that is closed when it goes, unless it was not this program's to close
// (standard input).

#include <unistd.h>

class Descriptor {
public:
    explicit Descriptor(int fd, bool owned = true) : fd_(fd), owned_(owned) {}
    ~Descriptor() {
        if (owned_ && fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
    bool owned_;
};
