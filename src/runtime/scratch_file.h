#pragma once

#include <optional>
#include <string>
#include <utility>

#include "runtime/binary_file.h"

namespace trenn {

// A scratch file's path and the file this process made there, if it made one. Only that
// file is ever removed: never an entry somebody planted at the path, nor the file of another
// run that drew the same name and replaced ours.
class ScratchFile {
public:
    ScratchFile() = default;
    explicit ScratchFile(std::string path) : path_(std::move(path)) {}

    const std::string& Path() const { return path_; }
    bool Made() const { return made_.has_value(); }

    // BinaryFile::CreateExclusive at the path, noting the file made.
    BinaryFile CreateExclusive();
    // BinaryFile::OpenOrCreateNoFollow at the path, noting the file when the open made it.
    BinaryFile OpenOrCreate();

    // Removes the file this process made at the path, when that very file still stands
    // there; anything else is left alone. Forgets the file either way. Never fails.
    void Remove() noexcept;

private:
    std::string path_;
    std::optional<FileIdentity> made_;
};

}  // namespace trenn
