#include "common/ProcessLimits.h"

#include <sched.h>
#include <algorithm>
#include <fstream>
#include <optional>
#include <thread>

namespace {

// Each group from `group` up to the root, as folders under `root`.
void addGroups(std::vector<CgroupFolder>& folders, const std::string& root, std::string group,
               bool unified) {
    for (;;) {
        folders.push_back(CgroupFolder{root + group, unified});
        if (group.empty() || group == "/")
            return;
        group.erase(group.find_last_of('/'));
    }
}

// The processors a cgroup's quota allows, rounded up; nothing when it sets none.
std::optional<int> quotaProcessors(const CgroupFolder& folder) {
    long long quota = 0;
    long long period = 0;
    if (folder.unified) {
        // "max 100000", or "QUOTA PERIOD" in microseconds.
        std::ifstream in(folder.path + "/cpu.max");
        std::string first;
        if (!(in >> first >> period) || first == "max")
            return std::nullopt;
        try {
            quota = std::stoll(first);
        } catch (...) {
            return std::nullopt;
        }
    } else {
        std::ifstream quotaFile(folder.path + "/cpu.cfs_quota_us");
        std::ifstream periodFile(folder.path + "/cpu.cfs_period_us");
        if (!(quotaFile >> quota) || !(periodFile >> period))
            return std::nullopt;
    }
    if (quota <= 0 || period <= 0)
        return std::nullopt;
    return static_cast<int>(std::min<long long>((quota + period - 1) / period, 1 << 20));
}

}  // namespace

std::vector<CgroupFolder> CgroupFolders(const std::string& controller,
                                        const std::string& groupsFile, const std::string& root) {
    std::vector<CgroupFolder> folders;
    std::ifstream groups(groupsFile);
    std::string line;
    while (std::getline(groups, line)) {
        // "0::/path" (v2) or "N:controller,...:/path" (v1).
        const std::size_t first = line.find(':');
        const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos)
            continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string path = line.substr(second + 1);
        if (controllers.empty()) {
            // Mounted alone, or beside the v1 controllers.
            addGroups(folders, root, path, true);
            addGroups(folders, root + "/unified", path, true);
        } else if (("," + controllers + ",").find("," + controller + ",") != std::string::npos) {
            addGroups(folders, root + "/" + controller, path, false);
        }
    }
    return folders;
}

int UsableProcessorCount() {
    int count = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        count = CPU_COUNT(&set);
    return ProcessorsWithinQuota(count, "/proc/self/cgroup", "/sys/fs/cgroup");
}

int ProcessorsWithinQuota(int available, const std::string& groups, const std::string& root) {
    int count = available;
    for (const CgroupFolder& folder : CgroupFolders("cpu", groups, root))
        if (const std::optional<int> quota = quotaProcessors(folder))
            count = std::min(count, *quota);
    return std::max(1, count);
}
