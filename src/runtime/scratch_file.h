#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "runtime/binary_file.h"

namespace trenn {

// The files a process made and has not yet given up or renamed (scratch files, files written
// under a temporary name), for removing them from another thread (a termination signal)
// without touching the files' descriptors, which their writers may be using.
class MadeFiles {
public:
    // Makes a new file at the path as BinaryFile::TryCreateExclusive does and records it, both
    // before RemoveAll can run: a signal that ends the program in between finds it recorded.
    std::optional<BinaryFile> Create(const std::string& path);
    // Makes a new file from a mkostemp pattern ("...XXXXXX", filled in) and records it the same
    // way. Returns its descriptor, or -1 with errno set.
    int CreateTemporary(std::string& pattern);
    void Forget(const std::string& path) noexcept;
    // Removes every entry that is still the very file this process made. Never fails.
    void RemoveAll() noexcept;

private:
    std::mutex mutex_;
    std::vector<std::pair<std::string, FileIdentity>> files_;
};

// A scratch file and the file this process made at its path, if it made one. Only that file
// is ever removed or read again: never an entry somebody planted at the path, nor the file of
// another run that drew the same name and replaced ours. A file made here is held open for
// reading and writing, and read through that descriptor, never by its path again.
class ScratchFile {
public:
    ScratchFile() = default;
    // A scratch file to be made at `path`; nothing is created yet. Where something already
    // stands there, `nextPath` (when given) names another place to try. `registry`, when
    // given, hears of the file made and of its removal.
    explicit ScratchFile(std::string path, std::function<std::string()> nextPath = {},
                         MadeFiles* registry = nullptr)
        : path_(std::move(path)), nextPath_(std::move(nextPath)), registry_(registry) {}
    ScratchFile(ScratchFile&& other) noexcept { *this = std::move(other); }
    ScratchFile& operator=(ScratchFile&& other) noexcept;
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::string& Path() const { return path_; }
    bool Made() const { return made_.has_value(); }
    bool IsOpen() const { return file_.IsOpen(); }

    // Makes a new, owner-only file at the path, never through or over an entry that stands
    // there: false when something does. Throws LoadFailure on any other failure.
    bool TryCreate();
    // The same, trying further paths where entries stand, and failing with LoadFailure when
    // none is left to try.
    void Create();

    // The file made here, open for reading and writing.
    BinaryFile& File() { return file_; }
    const BinaryFile& File() const { return file_; }

    // Where the data the loader wrote ends: every byte from there on reads as zero, whatever
    // the file system says (one that cannot keep holes reports its zeros as data).
    std::optional<std::uint64_t> DataEnd() const { return dataEnd_; }
    void SetDataEnd(std::uint64_t end) { dataEnd_ = end; }

    // Closes the file and removes it when the entry at the path is still the file made here;
    // anything else is left alone. Forgets the file either way. Never fails.
    void Remove() noexcept;
    // Closes the file and forgets it; it stays on disk.
    void Release() noexcept;

private:
    std::string path_;
    std::function<std::string()> nextPath_;
    MadeFiles* registry_ = nullptr;
    BinaryFile file_;
    std::optional<FileIdentity> made_;
    std::optional<std::uint64_t> dataEnd_;
};

// Removes the entry at the path when it is the file with that identity (lstat, no link
// followed). Never fails.
void RemoveIfSameFile(const std::string& path, FileIdentity identity) noexcept;

}  // namespace trenn
