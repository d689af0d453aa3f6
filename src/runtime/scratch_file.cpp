#include "runtime/scratch_file.h"

#include <sys/stat.h>
#include <unistd.h>

namespace trenn {

BinaryFile ScratchFile::CreateExclusive() {
    BinaryFile file = BinaryFile::CreateExclusive(path_);
    made_ = file.Identity();
    return file;
}

BinaryFile ScratchFile::OpenOrCreate() {
    bool created = false;
    BinaryFile file = BinaryFile::OpenOrCreateNoFollow(path_, &created);
    if (created) made_ = file.Identity();
    return file;
}

void ScratchFile::Remove() noexcept {
    const std::optional<FileIdentity> made = std::exchange(made_, std::nullopt);
    if (!made) return;
    struct stat info {};
    if (::lstat(path_.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
    const FileIdentity there{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
    if (there == *made) ::unlink(path_.c_str());
}

}  // namespace trenn
