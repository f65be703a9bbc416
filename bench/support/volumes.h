// The file systems the benchmarks run on: a tmpfs of their own and the machine's ext4.
#pragma once

#include <string>
#include <vector>

namespace quarrow2::bench {

struct Volume {
    std::string name;        // "tmpfs" or "ext4", the first part of every benchmark name
    std::string folder;      // a scratch folder on it, emptied and removed at the end
    std::string skipReason;  // why nothing can run there; empty when everything can
};

// Mounts a tmpfs in a mount namespace of the process's own (nobody else sees it, and it
// goes with the process even if the process is killed) and makes a scratch folder on the
// ext4 that holds /tmp or, failing that, the folder of the running program. Must be made
// while the process still has one thread: a mount namespace cannot be entered later.
class ScratchVolumes {
public:
    ScratchVolumes();
    ScratchVolumes(const ScratchVolumes&) = delete;
    ScratchVolumes& operator=(const ScratchVolumes&) = delete;
    // Removes both folders and unmounts the tmpfs.
    ~ScratchVolumes();

    const std::vector<Volume>& All() const { return volumes_; }

private:
    Volume MountTmpfs();
    Volume FindExt4();

    std::vector<Volume> volumes_;
    std::string tmpfsMountPoint_;
};

}  // namespace quarrow2::bench
