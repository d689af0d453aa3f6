#include "runtime/binary_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "runtime/load_failure.h"

namespace trenn {
namespace {

[[noreturn]] void FailErrno(const std::string& what, const std::string& path) {
    Fail(what + " " + path + ": " + std::strerror(errno));
}

constexpr std::size_t kCopyChunk = 1u << 20;

}  // namespace

BinaryFile::~BinaryFile() { Close(); }

BinaryFile::BinaryFile(BinaryFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

BinaryFile& BinaryFile::operator=(BinaryFile&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

void BinaryFile::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

BinaryFile BinaryFile::OpenForReading(const std::string& path) {
    // O_NONBLOCK keeps a FIFO from blocking the open; it is refused right after.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) FailErrno("cannot open", path);
    BinaryFile file(fd, path);
    struct stat info {};
    if (::fstat(fd, &info) != 0) FailErrno("cannot examine", path);
    if (!S_ISREG(info.st_mode)) Fail("cannot open " + path + ": not a regular file");
    return file;
}

BinaryFile BinaryFile::CreateExclusive(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) FailErrno("cannot create", path);
    return BinaryFile(fd, path);
}

std::optional<BinaryFile> BinaryFile::TryCreateExclusive(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) return std::nullopt;
    if (fd < 0) FailErrno("cannot create", path);
    return BinaryFile(fd, path);
}

BinaryFile BinaryFile::OpenOrCreateNoFollow(const std::string& path) {
    constexpr int kFlags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    // An entry that is already there is opened as it stands (and refused below unless it is a
    // regular file).
    int fd = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0600);
    if (fd < 0 && errno == EEXIST) fd = ::open(path.c_str(), kFlags);
    if (fd < 0) FailErrno("cannot open", path);
    BinaryFile file(fd, path);
    struct stat info {};
    if (::fstat(fd, &info) != 0) FailErrno("cannot examine", path);
    if (!S_ISREG(info.st_mode)) Fail("cannot open " + path + ": not a regular file");
    return file;
}

std::uint64_t BinaryFile::Size() const {
    if (fd_ < 0) return 0;
    struct stat info {};
    if (::fstat(fd_, &info) != 0) FailErrno("cannot examine", path_);
    return static_cast<std::uint64_t>(info.st_size);
}

FileIdentity BinaryFile::Identity() const {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) FailErrno("cannot examine", path_);
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

std::size_t BinaryFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t length) const {
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (fd_ >= 0 && done < length) {
        const std::uint64_t position = offset + done;
        if (position > static_cast<std::uint64_t>(INT64_MAX)) break;
        const ssize_t got = ::pread(fd_, out + done, length - done, static_cast<off_t>(position));
        if (got < 0) {
            if (errno == EINTR) continue;
            FailErrno("cannot read", path_);
        }
        if (got == 0) break;  // end of file: the rest reads as zeros
        done += static_cast<std::size_t>(got);
    }
    // An empty read may come with no buffer at all, which memset must not be given.
    if (done < length) std::memset(out + done, 0, length - done);
    return done;
}

std::uint64_t BinaryFile::NextDataOffset(std::uint64_t offset) const {
    if (fd_ < 0) return offset;
    const off_t data = ::lseek(fd_, static_cast<off_t>(offset), SEEK_DATA);
    if (data >= 0) return static_cast<std::uint64_t>(data);
    if (errno == ENXIO) return std::max(offset, Size());
    return offset;
}

std::uint64_t BinaryFile::DataEnd() const {
    const std::uint64_t size = Size();
    std::uint64_t end = 0;
    while (end < size) {
        const off_t data = ::lseek(fd_, static_cast<off_t>(end), SEEK_DATA);
        if (data < 0) return errno == ENXIO ? end : size;
        const off_t hole = ::lseek(fd_, data, SEEK_HOLE);
        if (hole < 0) return size;
        if (static_cast<std::uint64_t>(hole) <= end) return size;  // no progress: cannot tell
        end = static_cast<std::uint64_t>(hole);
    }
    return std::min(end, size);
}

void BinaryFile::WriteAt(std::uint64_t offset, const void* buffer, std::size_t length) {
    const auto* in = static_cast<const unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t put = ::pwrite(fd_, in + done, length - done, static_cast<off_t>(offset + done));
        if (put < 0) {
            if (errno == EINTR) continue;
            FailErrno("cannot write", path_);
        }
        if (put == 0) Fail("cannot write " + path_ + ": no progress");
        done += static_cast<std::size_t>(put);
    }
}

std::uint64_t BinaryFile::CopyFrom(const BinaryFile& source, std::uint64_t sourceOffset,
                                   std::uint64_t offset, std::uint64_t length) {
    std::uint64_t copied = 0;
    bool kernelCopy = true;
    std::vector<unsigned char> chunk;
    while (copied < length) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(length - copied, 1u << 30));
        if (kernelCopy) {
            off_t in = static_cast<off_t>(sourceOffset + copied);
            off_t out = static_cast<off_t>(offset + copied);
            const ssize_t got = ::copy_file_range(source.fd_, &in, fd_, &out, want, 0);
            if (got > 0) {
                copied += static_cast<std::uint64_t>(got);
                continue;
            }
            if (got == 0) break;  // end of the source
            if (errno == EINTR) continue;
            if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP &&
                errno != EPERM) {
                FailErrno("cannot copy into", path_);
            }
            kernelCopy = false;
        }
        if (chunk.empty()) chunk.resize(kCopyChunk);
        const std::size_t step = std::min(want, chunk.size());
        ssize_t got;
        do {
            got = ::pread(source.fd_, chunk.data(), step, static_cast<off_t>(sourceOffset + copied));
        } while (got < 0 && errno == EINTR);
        if (got < 0) FailErrno("cannot read", source.path_);
        if (got == 0) break;
        WriteAt(offset + copied, chunk.data(), static_cast<std::size_t>(got));
        copied += static_cast<std::uint64_t>(got);
    }
    return copied;
}

void BinaryFile::ExtendTo(std::uint64_t length) {
    if (Size() >= length) return;
    if (::ftruncate(fd_, static_cast<off_t>(length)) != 0) FailErrno("cannot extend", path_);
}

std::optional<std::string> WriteWholeFile(const std::string& path, const void* bytes, std::size_t length) {
    const auto failure = [&](const char* what) { return std::string(what) + " " + path + ": " + std::strerror(errno); };
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) return failure("cannot write");
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    const auto* in = static_cast<const unsigned char*>(bytes);
    std::size_t done = 0;
    std::optional<std::string> problem;
    while (done < length && !problem) {
        const ssize_t put = ::write(fd, in + done, length - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (put == 0) errno = EIO;
            problem = failure("cannot write");
        } else {
            done += static_cast<std::size_t>(put);
        }
    }
    // Delayed write errors (a full disk, a network file system) show at close.
    if (::close(fd) != 0 && !problem) problem = failure("cannot write");
    if (problem && regular) ::unlink(path.c_str());
    return problem;
}

bool EntryExists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

void RemoveEntry(const std::string& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) FailErrno("cannot delete", path);
}

}  // namespace trenn
