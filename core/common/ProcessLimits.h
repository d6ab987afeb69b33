#pragma once
// What the system lets this process use, as Linux tells it: the control groups (cgroups) it is
// in, and the processors it may run on.

#include <string>
#include <vector>

// A folder of a control group that this process is in, or of a group above it.
struct CgroupFolder {
    std::string path;
    bool unified = false;  // of the unified hierarchy (cgroup v2); else of a v1 controller's
};

// The folders of the groups that limit this process for `controller` ("memory", "cpu"): of the
// unified hierarchy, and of the v1 hierarchy of that controller (mounted at
// /sys/fs/cgroup/`controller`), each group from the process's own up to the root.
// `groups` and `root` stand for /proc/self/cgroup and /sys/fs/cgroup (other ones in tests).
std::vector<CgroupFolder> CgroupFolders(const std::string& controller,
                                        const std::string& groups = "/proc/self/cgroup",
                                        const std::string& root = "/sys/fs/cgroup");

// The processors this process may use: those it may run on (its affinity), fewer when a cgroup's
// processor quota allows less (rounded up); at least 1.
int UsableProcessorCount();
// The same, of `available` processors, with the cgroups of `groups` under `root`.
int ProcessorsWithinQuota(int available, const std::string& groups, const std::string& root);
