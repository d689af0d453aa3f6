#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace trenn {

// Which file a path or an open file is: two names of one file have the same identity, and a
// file made anew in the place of another has a new one.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

// A file opened for byte-level access by position. Reads never fail at the end of the file:
// whatever lies past the end reads as zero bytes. Every failure throws LoadFailure. A file
// that is not open reads as an empty file.
class BinaryFile {
public:
    BinaryFile() = default;
    ~BinaryFile();
    BinaryFile(BinaryFile&& other) noexcept;
    BinaryFile& operator=(BinaryFile&& other) noexcept;
    BinaryFile(const BinaryFile&) = delete;
    BinaryFile& operator=(const BinaryFile&) = delete;

    // Opens an existing regular file read-only. FIFOs, devices and directories are refused
    // without blocking on them.
    static BinaryFile OpenForReading(const std::string& path);

    // Creates a new file owner-only (0600). Fails when anything at all stands at the path,
    // a symbolic link included: nothing is ever written through an entry somebody else made.
    static BinaryFile CreateExclusive(const std::string& path);
    // The same, but nothing (rather than a failure) when an entry already stands at the path.
    static std::optional<BinaryFile> TryCreateExclusive(const std::string& path);

    // Opens a regular file for reading and writing, creating it empty (0600) when missing,
    // and never following a symbolic link in the last component.
    static BinaryFile OpenOrCreateNoFollow(const std::string& path);

    bool IsOpen() const { return fd_ >= 0; }
    void Close();

    // Current length of the file in bytes.
    std::uint64_t Size() const;
    FileIdentity Identity() const;

    // Reads `length` bytes from `offset`; the part past the end of the file is zero-filled.
    // Returns how many bytes came from the file itself.
    std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) const;

    // The first offset at or after `offset` that is not inside a hole of a sparse file: the
    // file's size when only a hole follows, `offset` itself when the system cannot tell.
    std::uint64_t NextDataOffset(std::uint64_t offset) const;

    // Where the last stretch that is not a hole ends: from there on the file reads as zeros.
    // The file's size when the system cannot tell.
    std::uint64_t DataEnd() const;

    void WriteAt(std::uint64_t offset, const void* buffer, std::size_t length);

    // Copies `length` bytes of `source` from `sourceOffset` to `offset` of this file. Source
    // bytes past its end are not copied; the caller decides what stands there instead.
    // Returns the number of bytes copied.
    std::uint64_t CopyFrom(const BinaryFile& source, std::uint64_t sourceOffset,
                           std::uint64_t offset, std::uint64_t length);

    // Grows the file to `length` bytes without writing the zero tail; never shrinks it.
    void ExtendTo(std::uint64_t length);

    const std::string& Path() const { return path_; }

private:
    BinaryFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    int fd_ = -1;
    std::string path_;
};

// Writes `length` bytes as the whole content of the file at the path (made when missing, as a
// plain new file is). Nothing when it worked; otherwise why not, in one line ("cannot write
// PATH: REASON"), and a regular file left incomplete is removed.
std::optional<std::string> WriteWholeFile(const std::string& path, const void* bytes, std::size_t length);

// Whether anything (file, link, directory...) stands at the path, without following links.
bool EntryExists(const std::string& path);

// Removes the entry at the path itself (a link, not its target). Directories are not
// removed. Throws LoadFailure when the entry cannot be removed.
void RemoveEntry(const std::string& path);

}  // namespace trenn
