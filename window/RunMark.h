#pragma once
// Marks a run of the window (checking, or compiling the schema it checks against) as in
// progress for as long as it lives: a second one asked for meanwhile is not started.

class RunMark {
public:
    explicit RunMark(bool& flag) : flag_(flag) { flag_ = true; }
    ~RunMark() { flag_ = false; }
    RunMark(const RunMark&) = delete;
    RunMark& operator=(const RunMark&) = delete;

private:
    bool& flag_;
};
