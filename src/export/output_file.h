#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "export/export.h"

namespace trenn {

// Why a file could not be written, in a few words ("No space left on device"); the caller puts
// "cannot write PATH: " before it.
class ExportFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A file that appears whole or not at all. It is written under a temporary name in the same
// folder, created only for the caller (mode 0600), through a large buffer; Commit() puts it on
// disk, gives it the permissions a new file would get and renames it over the target. Until
// then, and whenever something fails, the target is left as it was and the temporary file goes.
//
// A full buffer goes to the file on a thread of the object's own while the caller fills the
// other one, so that working out the bytes and handing them to the system overlap; where no
// thread can start, on the caller's.
class OutputFile {
public:
    // The size of the buffer, and the most Room() hands out at once.
    static constexpr std::size_t kBufferSize = std::size_t{1} << 20;

    // Throws ExportFailure when the temporary file cannot be made. `temporaries`, when given,
    // records the temporary file from the moment it is made until it is renamed or removed.
    OutputFile(const std::string& path, MadeFiles* temporaries);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Space for `size` bytes (at most kBufferSize) after everything written so far: fill it,
    // then Advance() by the bytes used.
    unsigned char* Room(std::size_t size) {
        if (buffer_.size() - used_ < size) Flush();
        return buffer_.data() + used_;
    }
    void Advance(std::size_t size) { used_ += size; }
    void Write(const void* data, std::size_t size);
    void Write(const std::string& text) { Write(text.data(), text.size()); }
    // Writes `bytes` over what was written at `offset` before.
    void Overwrite(std::uint64_t offset, const std::string& bytes);

    // Throws ExportFailure; the file is at its place only when it returns.
    void Commit();

private:
    // Hands the filled buffer to the writing thread and goes on with the other one.
    void Flush();
    // Waits until the writing thread has written all it was handed.
    void Drain();
    void WriteHandedBytes();
    // Writes `size` bytes that go at `at` in the file; errno, or 0.
    int WriteOut(const unsigned char* bytes, std::size_t size, std::uint64_t at);
    [[noreturn]] void FailWithErrno(int error);

    std::string path_;
    MadeFiles* temporaries_;
    std::string temporary_;
    int fd_ = -1;
    std::vector<unsigned char> buffer_;  // being filled
    std::size_t used_ = 0;

    // Shared with the writing thread, under `mutex_`.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<unsigned char> handed_;  // being written
    std::size_t handedBytes_ = 0;        // 0: nothing to write
    std::uint64_t written_ = 0;          // bytes in the file
    int writeError_ = 0;                 // errno of the first failed write
    bool stopping_ = false;
    std::thread writer_;
};

// Room for many small records, straight in an OutputFile's buffer, a stretch at a time. Keep
// it a local variable: its pointers then stay in registers while a loop writes record after
// record, where the file's own counters would be read and written back for every record.
// Nothing else may write to the file while it lives.
class RecordStream {
public:
    static constexpr std::size_t kStretch = std::size_t{64} << 10;

    explicit RecordStream(OutputFile& out) : out_(out) {}
    ~RecordStream() { out_.Advance(static_cast<std::size_t>(at_ - start_)); }
    RecordStream(const RecordStream&) = delete;
    RecordStream& operator=(const RecordStream&) = delete;

    // Space for up to `size` bytes (at most kStretch); Used() tells where the record ended.
    unsigned char* Room(std::size_t size) {
        if (static_cast<std::size_t>(end_ - at_) < size) {
            out_.Advance(static_cast<std::size_t>(at_ - start_));
            start_ = at_ = out_.Room(kStretch);
            end_ = at_ + kStretch;
        }
        return at_;
    }
    void Used(unsigned char* recordEnd) { at_ = recordEnd; }
    // Space for a record of exactly `size` bytes.
    unsigned char* Next(std::size_t size) {
        unsigned char* record = Room(size);
        at_ += size;
        return record;
    }

private:
    OutputFile& out_;
    unsigned char* start_ = nullptr;
    unsigned char* at_ = nullptr;
    unsigned char* end_ = nullptr;
};

}  // namespace trenn
