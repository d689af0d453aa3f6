#include "runtime/scratch_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "runtime/load_failure.h"

namespace trenn {

void RemoveIfSameFile(const std::string& path, FileIdentity identity) noexcept {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
    const FileIdentity there{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
    if (there == identity) ::unlink(path.c_str());
}

std::optional<BinaryFile> MadeFiles::Create(const std::string& path) {
    std::lock_guard lock(mutex_);
    std::optional<BinaryFile> file = BinaryFile::TryCreateExclusive(path);
    if (file) files_.emplace_back(path, file->Identity());
    return file;
}

int MadeFiles::CreateTemporary(std::string& pattern) {
    std::lock_guard lock(mutex_);
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) return fd;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        ::unlink(pattern.c_str());
        errno = error;
        return -1;
    }
    files_.emplace_back(pattern, FileIdentity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)});
    return fd;
}

void MadeFiles::Forget(const std::string& path) noexcept {
    std::lock_guard lock(mutex_);
    std::erase_if(files_, [&](const auto& file) { return file.first == path; });
}

void MadeFiles::RemoveAll() noexcept {
    std::lock_guard lock(mutex_);
    for (const auto& [path, identity] : files_) RemoveIfSameFile(path, identity);
    files_.clear();
}

ScratchFile& ScratchFile::operator=(ScratchFile&& other) noexcept {
    if (this != &other) {
        path_ = std::move(other.path_);
        nextPath_ = std::move(other.nextPath_);
        registry_ = std::exchange(other.registry_, nullptr);
        file_ = std::move(other.file_);
        made_ = std::exchange(other.made_, std::nullopt);
        dataEnd_ = std::exchange(other.dataEnd_, std::nullopt);
        other.path_.clear();
    }
    return *this;
}

bool ScratchFile::TryCreate() {
    std::optional<BinaryFile> file = registry_ ? registry_->Create(path_) : BinaryFile::TryCreateExclusive(path_);
    if (!file) return false;
    made_ = file->Identity();
    file_ = std::move(*file);
    return true;
}

void ScratchFile::Create() {
    // Names are random: a few taken ones in a row mean somebody is planting them.
    constexpr int kPathsToTry = 100;
    const std::string first = path_;
    for (int tried = 1; !TryCreate(); ++tried) {
        if (!nextPath_) Fail("cannot create " + path_ + ": something stands at that path already");
        if (tried == kPathsToTry) {
            Fail("cannot create a scratch file: " + std::to_string(kPathsToTry) +
                 " names in a row were taken, the first " + first);
        }
        path_ = nextPath_();
    }
}

void ScratchFile::Remove() noexcept {
    file_.Close();
    const std::optional<FileIdentity> made = std::exchange(made_, std::nullopt);
    if (!made) return;
    RemoveIfSameFile(path_, *made);
    if (registry_) registry_->Forget(path_);
}

void ScratchFile::Release() noexcept {
    file_.Close();
    if (made_ && registry_) registry_->Forget(path_);
    made_.reset();
}

}  // namespace trenn
