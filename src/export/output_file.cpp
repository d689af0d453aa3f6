#include "export/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <utility>

#include "runtime/scratch_file.h"

namespace trenn {

namespace {

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string ErrorText(int error) { return std::error_code(error, std::generic_category()).message(); }

// The process's file-creation mask. /proc tells it without changing it; umask() can only set
// it, and setting it back and forth would change it for a moment for every thread.
mode_t CurrentUmask() {
    if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status)) {
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        }
        std::fclose(status);
        if (found) return static_cast<mode_t>(mask & 0777);
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

}  // namespace

OutputFile::OutputFile(const std::string& path, MadeFiles* temporaries)
    : path_(path), temporaries_(temporaries), temporary_(FolderOf(path) + "/.trenn-export-XXXXXX") {
    // mkostemp creates the file exclusively, readable and writable by the caller alone.
    fd_ = temporaries_ ? temporaries_->CreateTemporary(temporary_) : ::mkostemp(temporary_.data(), O_CLOEXEC);
    if (fd_ < 0) {
        const int error = errno;
        temporary_.clear();
        throw ExportFailure(ErrorText(error));
    }
    const auto giveUp = [this] {
        ::close(fd_);
        ::unlink(temporary_.c_str());
        if (temporaries_) temporaries_->Forget(temporary_);
    };
    try {
        buffer_.resize(kBufferSize);
        handed_.resize(kBufferSize);
    } catch (...) {
        giveUp();
        throw;
    }
    try {
        writer_ = std::thread([this] { WriteHandedBytes(); });
    } catch (const std::system_error&) {
        // No thread to be had (a limit on the address space): Flush writes on this one.
    }
}

OutputFile::~OutputFile() {
    if (writer_.joinable()) {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        writer_.join();
    }
    if (fd_ >= 0) ::close(fd_);
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        if (temporaries_) temporaries_->Forget(temporary_);
    }
}

void OutputFile::WriteHandedBytes() {
    std::unique_lock lock(mutex_);
    while (true) {
        changed_.wait(lock, [this] { return handedBytes_ > 0 || stopping_; });
        if (handedBytes_ == 0) return;
        const std::size_t size = handedBytes_;
        const std::uint64_t at = written_;
        lock.unlock();
        const int error = WriteOut(handed_.data(), size, at);
        lock.lock();
        written_ += size;
        if (error != 0 && writeError_ == 0) writeError_ = error;
        handedBytes_ = 0;
        changed_.notify_all();
    }
}

int OutputFile::WriteOut(const unsigned char* bytes, std::size_t size, std::uint64_t at) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t wrote = ::write(fd_, bytes + done, size - done);
        if (wrote >= 0) {
            done += static_cast<std::size_t>(wrote);
        } else if (errno != EINTR) {
            return errno;
        }
    }
    // The disk starts on these bytes now, while the rest is worked out, so that the fsync at
    // the end waits only for the last of them. A hint: a failure shows in the fsync.
    ::sync_file_range(fd_, static_cast<off_t>(at), static_cast<off_t>(size), SYNC_FILE_RANGE_WRITE);
    return 0;
}

void OutputFile::Drain() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return handedBytes_ == 0; });
    if (writeError_ != 0) FailWithErrno(writeError_);
}

void OutputFile::FailWithErrno(int error) { throw ExportFailure(ErrorText(error)); }

void OutputFile::Write(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        if (used_ == buffer_.size()) Flush();
        const std::size_t part = std::min(size, buffer_.size() - used_);
        std::memcpy(buffer_.data() + used_, bytes, part);
        used_ += part;
        bytes += part;
        size -= part;
    }
}

void OutputFile::Flush() {
    Drain();
    if (used_ == 0) return;
    if (!writer_.joinable()) {
        const int error = WriteOut(buffer_.data(), used_, written_);
        if (error != 0) FailWithErrno(error);
        written_ += used_;
        used_ = 0;
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        buffer_.swap(handed_);
        handedBytes_ = used_;
    }
    changed_.notify_all();
    used_ = 0;
}

void OutputFile::Overwrite(std::uint64_t offset, const std::string& bytes) {
    Flush();
    Drain();
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
        if (wrote < 0) {
            if (errno == EINTR) continue;
            FailWithErrno(errno);
        }
        done += static_cast<std::size_t>(wrote);
    }
}

void OutputFile::Commit() {
    Flush();
    Drain();
    if (::fchmod(fd_, 0666 & ~CurrentUmask()) != 0) FailWithErrno(errno);
    if (::fsync(fd_) != 0) FailWithErrno(errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) FailWithErrno(errno);
    if (::rename(temporary_.c_str(), path_.c_str()) != 0) FailWithErrno(errno);
    if (temporaries_) temporaries_->Forget(temporary_);
    temporary_.clear();
}

}  // namespace trenn
