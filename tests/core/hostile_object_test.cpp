// The object path names something that is not a plain file, or a file that shrinks while it
// is read. Each start runs in a child process with an alarm: a hang or a SIGBUS fails the
// test instead of taking the test program with it.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "../../fuzz/fuzz_driver.h"
#include "../../fuzz/hostile_cases.h"
#include "elfgen/elf_builder.h"
#include "support/temp_dir.h"

using namespace trenn;
using fuzz::Exit;
using fuzz::LoadRun;

namespace {

namespace fs = std::filesystem;

constexpr unsigned kAlarmSeconds = 20;

class HostileObject : public ::testing::Test {
protected:
    fuzz::ChildRun Start(const std::string& object, const std::function<void()>& prepare = {}) {
        LoadRun run(object, temp_.Path());
        return fuzz::RunMainInChild(run, kAlarmSeconds, prepare);
    }
    TempDir files_;
    TempDir temp_;
};

TEST_F(HostileObject, WhatIsNotAPlainFileFailsTheLoad) {
    const std::string fifo = files_.File("fifo.o");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string fullFifo = files_.File("full-fifo.o");
    ASSERT_EQ(::mkfifo(fullFifo.c_str(), 0600), 0);
    // Held open for writing, with an object's bytes waiting in it.
    const int writer = ::open(fullFifo.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    const elfgen::Bytes model = hostile::Fixture().elf.Build();
    ASSERT_GT(::write(writer, model.data(), model.size()), 0);

    const std::string zeroLink = files_.File("zero.o");
    ASSERT_EQ(::symlink("/dev/zero", zeroLink.c_str()), 0);
    const std::string socketPath = files_.File("socket.o");
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    const std::string plain = files_.File("model.o");
    elfgen::WriteFile(plain, model);

    const struct {
        const char* what;
        std::string path;
        Exit exit;
    } cases[] = {
        {"directory", files_.Path(), Exit::kLoad},
        {"fifo without a writer", fifo, Exit::kLoad},
        {"fifo with a writer and data", fullFifo, Exit::kLoad},
        {"the zero device", "/dev/zero", Exit::kLoad},
        {"a link to the zero device", zeroLink, Exit::kLoad},
        {"the random device", "/dev/urandom", Exit::kLoad},
        {"the null device", "/dev/null", Exit::kLoad},
        {"a listening socket", socketPath, Exit::kLoad},
        {"a missing file", files_.File("missing.o"), Exit::kLoad},
        {"a file named as a folder", plain + "/", Exit::kLoad},
        // Regular files by their type whose reads fail or whose size says nothing.
        {"memory of the process", "/proc/self/mem", Exit::kLoad},
        {"a status text of size 0", "/proc/self/status", Exit::kMagic},
        {"the plain file itself", plain, Exit::kOk},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fuzz::ChildRun child = Start(c.path);
        ASSERT_TRUE(child.exited) << "ended by signal " << child.signal;
        EXPECT_STREQ(fuzz::ExitTag(child.exit), fuzz::ExitTag(c.exit));
        EXPECT_LT(child.seconds, 2.0);
    }
    ::close(writer);
    ::close(listener);
}

// An object of 64 MiB whose one PROGBITS section starts with the mesh and runs to the end of
// the file; the symbol and section tables come first.
elfgen::Bytes LargeModel(std::uint32_t* metadataEnd) {
    hostile::Fixture f;
    const elfgen::Bytes small = f.elf.Build();
    *metadataEnd = static_cast<std::uint32_t>(small.size());
    const std::uint32_t dataAt = f.SectionOffset(hostile::Fixture::kData);
    f.Data().size = (64u << 20) - dataAt;
    elfgen::Bytes bytes = f.elf.Build();
    bytes.resize(64u << 20, 0x11);
    return bytes;
}

// Starts a thread in the child that cuts the object down to `length` bytes as soon as the
// load first reads from it.
std::function<void()> CutOnFirstRead(const std::string& object, off_t length) {
    return [object, length] {
        const int watch = ::inotify_init1(IN_CLOEXEC);
        if (watch < 0 || ::inotify_add_watch(watch, object.c_str(), IN_ACCESS) < 0) ::_exit(4);
        std::thread([watch, object, length] {
            alignas(inotify_event) char buffer[4096];
            if (::read(watch, buffer, sizeof buffer) > 0 && ::truncate(object.c_str(), length) != 0) {
                ::_exit(5);  // the file was not cut: the case did not happen
            }
        }).detach();
    };
}

TEST_F(HostileObject, FileThatShrinksWhileItIsRead) {
    std::uint32_t metadataEnd = 0;
    const elfgen::Bytes bytes = LargeModel(&metadataEnd);
    const std::string object = files_.File("shrinking.o");
    const std::set<Exit> anyExit{Exit::kMagic, Exit::kLoad, Exit::kCorrupt, Exit::kNotUnderstood, Exit::kOk};
    const struct {
        const char* what;
        off_t length;
        std::set<Exit> exits;
    } cases[] = {
        // The tables and the mesh stay: whenever the cut comes, the same model loads.
        {"cut after the tables", static_cast<off_t>(metadataEnd) + 4096, {Exit::kOk}},
        {"cut inside the section table", static_cast<off_t>(metadataEnd) - 100, anyExit},
        {"cut to nothing", 0, anyExit},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        elfgen::WriteFile(object, bytes);
        const fuzz::ChildRun child = Start(object, CutOnFirstRead(object, c.length));
        ASSERT_TRUE(child.exited) << "ended by signal " << child.signal;
        EXPECT_TRUE(c.exits.contains(child.exit)) << fuzz::ExitTag(child.exit);
        EXPECT_EQ(fs::file_size(object), static_cast<std::uintmax_t>(c.length)) << "the cut never happened";
        if (child.exit == Exit::kOk) {
            EXPECT_EQ(child.listEntries, 1u);
        }
        for (const auto& entry : fs::directory_iterator(temp_.Path())) fs::remove(entry.path());
    }
}

}  // namespace
