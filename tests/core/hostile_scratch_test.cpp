// The scratch file under attack: entries planted at its path beforehand or in the moment
// between the removal of the old file and the creation of the new one, and TEMP values that
// point nowhere useful. Everything goes through Main, as the program runs.

#include <gtest/gtest.h>

#include <grp.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
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
using Problems = std::vector<std::string>;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class HostileScratch : public ::testing::Test {
protected:
    void SetUp() override {
        object_ = files_.File("model.o");
        elfgen::WriteFile(object_, hostile::Fixture().elf.Build());
        // The clock of the fake platform is fixed, so every start uses this one path.
        LoadRun probe(object_, temp_.Path());
        fuzz::RunMain(probe);
        ASSERT_EQ(fuzz::ExitOf(probe), Exit::kOk) << g_lastFailureDetail;
        const auto names = Entries(temp_.Path());
        ASSERT_EQ(names.size(), 1u);
        scratchName_ = names[0];
        scratch_ = temp_.File(scratchName_);
        good_ = ReadAll(scratch_);
        fs::remove(scratch_);
        victim_ = files_.File("victim");
        std::ofstream(victim_) << "keep";
        struct stat info {};
        ASSERT_EQ(::stat(victim_.c_str(), &info), 0);
        victimMode_ = info.st_mode;
    }

    std::unique_ptr<LoadRun> Run() {
        auto run = std::make_unique<LoadRun>(object_, temp_.Path());
        fuzz::RunMain(*run);
        return run;
    }

    // The scratch path holds the new scratch file: a plain file of its own, owner-only.
    void ExpectFreshScratch() const {
        struct stat info {};
        ASSERT_EQ(::lstat(scratch_.c_str(), &info), 0);
        EXPECT_TRUE(S_ISREG(info.st_mode));
        EXPECT_EQ(info.st_nlink, 1u);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        EXPECT_EQ(ReadAll(scratch_), good_);
    }

    // The target of the links keeps its content and its mode (a write through a link, or a
    // chmod of what the path names, would show here).
    void ExpectVictimUntouched() const {
        EXPECT_EQ(ReadAll(victim_), "keep");
        struct stat info {};
        ASSERT_EQ(::stat(victim_.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode, victimMode_);
    }

    TempDir files_;
    TempDir temp_;
    std::string object_, scratch_, scratchName_, good_, victim_;
    mode_t victimMode_ = 0;
};

struct Plant {
    const char* what;
    std::function<int(const std::string& path, const std::string& victim, const std::string& nowhere)> make;
};

const Plant kPlants[] = {
    {"live symlink", [](const std::string& p, const std::string& v, const std::string&) { return ::symlink(v.c_str(), p.c_str()); }},
    {"dangling symlink", [](const std::string& p, const std::string&, const std::string& n) { return ::symlink(n.c_str(), p.c_str()); }},
    {"hard link", [](const std::string& p, const std::string& v, const std::string&) { return ::link(v.c_str(), p.c_str()); }},
    {"fifo", [](const std::string& p, const std::string&, const std::string&) { return ::mkfifo(p.c_str(), 0666); }},
    {"directory", [](const std::string& p, const std::string&, const std::string&) { return ::mkdir(p.c_str(), 0777); }},
};

// Planted before the start: the entry itself is removed and a new file made in its place;
// a directory cannot be removed as a file, which fails the load.
TEST_F(HostileScratch, EntriesPlantedBeforehand) {
    const std::string nowhere = files_.File("nowhere");
    for (const Plant& plant : kPlants) {
        SCOPED_TRACE(plant.what);
        ASSERT_EQ(plant.make(scratch_, victim_, nowhere), 0) << std::strerror(errno);
        const auto run = Run();
        const bool directory = std::string(plant.what) == "directory";
        EXPECT_STREQ(fuzz::ExitTag(fuzz::ExitOf(*run)), fuzz::ExitTag(directory ? Exit::kLoad : Exit::kOk))
            << g_lastFailureDetail;
        if (directory) {
            EXPECT_TRUE(fs::is_directory(scratch_));
            EXPECT_TRUE(fs::is_empty(scratch_));
            fs::remove(scratch_);
        } else {
            ExpectFreshScratch();
            EXPECT_EQ(fuzz::CheckLoad(*run, hostile::Fixture().elf.Build()), Problems{});
            fs::remove(scratch_);
        }
        ExpectVictimUntouched();
        EXPECT_FALSE(fs::exists(fs::symlink_status(nowhere)));
        EXPECT_EQ(Entries(temp_.Path()), std::vector<std::string>{});
    }
}

// The fixture's model with `tables` symbol tables in front of .data, each a record further
// into 32767 records: the load spends a while between removing the old scratch file and
// creating the new one at .data. The last table holds the fixture's four records and decides
// the symbol list.
elfgen::Bytes SlowToReachData(std::uint16_t tables) {
    using hostile::Fixture;
    Fixture f;
    const auto data = static_cast<std::uint16_t>(1 + tables);
    const auto strtab = static_cast<std::uint16_t>(data + 1);
    const auto holder = static_cast<std::uint16_t>(data + 2);
    elfgen::Bytes records = f.Symtab().data;
    for (std::size_t r = 0; r < 4; ++r) {
        if (elfgen::Bytes(records.begin() + r * 16 + 14, records.begin() + r * 16 + 16) ==
            elfgen::Bytes{Fixture::kData, 0}) {
            elfgen::PutU16(records, r * 16 + 14, data);
        }
    }
    records.resize(32767 * 16, 0);

    elfgen::ElfBuilder e;
    for (std::uint16_t i = 0; i < tables; ++i) {
        elfgen::Section s;
        s.type = elfgen::SHT_SYMTAB;
        s.link = strtab;
        s.entsize = 16;
        e.AddSection(s);
    }
    e.AddSection(f.Data());
    e.AddSection(f.Strtab());
    elfgen::Section block;  // type 0: only holds the records
    block.data = records;
    e.AddSection(block);
    const elfgen::Bytes layout = e.Build();
    const std::size_t header = layout.size() - e.sections.size() * 40 + holder * 40 + 16;
    const std::uint32_t recordsAt = static_cast<std::uint32_t>(
        layout[header] | layout[header + 1] << 8 | layout[header + 2] << 16 | layout[header + 3] << 24);
    for (std::uint16_t i = 0; i + 1 < tables; ++i) {
        e.sections[1 + i].offset = recordsAt + 16u * (tables - 1 - i);
        e.sections[1 + i].size = (32767u - (tables - 1 - i)) * 16u;
    }
    e.sections[tables].offset = recordsAt;
    e.sections[tables].size = 4 * 16;
    return e.Build();
}

// Something appears at the scratch path right after the old file was removed: a watcher on
// the folder plants it as soon as the removal shows. If the entry got there first, the
// exclusive creation fails and the load with it, with nothing written through the entry; if
// the load got there first, planting fails and the load succeeds. Either way the outcome must
// match, and the entry must win at least once in a few tries for the test to mean anything.
TEST_F(HostileScratch, EntryPlantedBetweenRemovalAndCreation) {
    elfgen::WriteFile(object_, SlowToReachData(3000));
    {
        const auto run = Run();
        ASSERT_EQ(fuzz::ExitOf(*run), Exit::kOk) << g_lastFailureDetail;
        good_ = ReadAll(scratch_);
    }
    const std::string nowhere = files_.File("nowhere");
    for (const Plant& plant : kPlants) {
        SCOPED_TRACE(plant.what);
        int entryWon = 0;
        for (int attempt = 0; attempt < 5 && entryWon < 2; ++attempt) {
            // An old scratch file, so that the load has something to remove.
            std::ofstream(scratch_) << "old";
            const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
            ASSERT_GE(watch, 0);
            ASSERT_GE(::inotify_add_watch(watch, temp_.Path().c_str(), IN_DELETE), 0);
            std::atomic<int> planted{-1};
            std::thread watcher([&] {
                alignas(inotify_event) char buffer[4096];
                pollfd ready{watch, POLLIN, 0};
                while (::poll(&ready, 1, 10000) > 0) {
                    const ssize_t got = ::read(watch, buffer, sizeof buffer);
                    for (ssize_t at = 0; at < got;) {
                        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                        if (event->len > 0 && scratchName_ == event->name) {
                            planted = plant.make(scratch_, victim_, nowhere) == 0 ? 1 : 0;
                            return;
                        }
                        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                    }
                }
            });
            const auto run = Run();
            watcher.join();
            ::close(watch);
            ASSERT_NE(planted.load(), -1) << "the watcher never saw the removal";
            const Exit exit = fuzz::ExitOf(*run);
            if (planted == 1) {
                ++entryWon;
                EXPECT_STREQ(fuzz::ExitTag(exit), fuzz::ExitTag(Exit::kLoad)) << g_lastFailureDetail;
                struct stat info {};
                ASSERT_EQ(::lstat(scratch_.c_str(), &info), 0);
                EXPECT_FALSE(S_ISREG(info.st_mode) && info.st_nlink == 1) << "a fresh file replaced the entry";
            } else {
                EXPECT_STREQ(fuzz::ExitTag(exit), fuzz::ExitTag(Exit::kOk)) << g_lastFailureDetail;
                ExpectFreshScratch();
            }
            ExpectVictimUntouched();
            EXPECT_FALSE(fs::exists(fs::symlink_status(nowhere)));
            fs::remove(scratch_);
        }
        EXPECT_GE(entryWon, 1) << "the planted entry never came first: the race was not tested";
    }
}

class HostileTemp : public ::testing::Test {
protected:
    void SetUp() override {
        object_ = files_.File("model.o");
        elfgen::WriteFile(object_, hostile::Fixture().elf.Build());
    }
    TempDir files_;
    TempDir temp_;
    std::string object_;
};

// TEMP names something the scratch file cannot be made in: the load fails, and nothing is
// made anywhere else instead (a separator appended the other way would put the file beside it).
TEST_F(HostileTemp, UnusableTempFailsTheLoad) {
    const std::string file = files_.File("plain-file");
    std::ofstream(file) << "x";
    const struct {
        const char* what;
        std::string temp;
    } cases[] = {
        {"missing folder", temp_.File("missing")},
        {"missing folder, trailing slash", temp_.File("missing") + "/"},
        {"regular file", file},
        {"folder under a regular file", file + "/sub"},
        {"read-only file system", "/proc/self"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto before = Entries(files_.Path());
        LoadRun run(object_, c.temp);
        fuzz::RunMain(run);
        EXPECT_STREQ(fuzz::ExitTag(fuzz::ExitOf(run)), fuzz::ExitTag(Exit::kLoad)) << g_lastFailureDetail;
        EXPECT_EQ(Entries(files_.Path()), before);
        EXPECT_EQ(Entries(temp_.Path()), std::vector<std::string>{});
    }
}

// A folder the user may not write to. Root may write anywhere, so a child process takes the
// identity of an unprivileged user first; a writable folder beside it shows that the failure
// comes from the folder.
TEST_F(HostileTemp, FolderWithoutWritePermission) {
    const std::string locked = temp_.File("locked");
    const std::string open = temp_.File("open");
    ASSERT_EQ(::mkdir(locked.c_str(), 0555), 0);
    ASSERT_EQ(::mkdir(open.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0777), 0);
    for (const std::string& dir : {temp_.Path(), files_.Path()}) ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(object_.c_str(), 0644), 0);
    const bool root = ::geteuid() == 0;
    const auto unprivileged = [root] {
        if (root && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(3);
        }
    };
    for (const auto& [dir, expected] : {std::pair{locked, Exit::kLoad}, std::pair{open, Exit::kOk}}) {
        SCOPED_TRACE(dir);
        LoadRun run(object_, dir);
        const fuzz::ChildRun child = fuzz::RunMainInChild(run, 30, unprivileged);
        ASSERT_TRUE(child.exited) << "the child could not drop its privileges or crashed";
        EXPECT_STREQ(fuzz::ExitTag(child.exit), fuzz::ExitTag(expected));
    }
    EXPECT_EQ(Entries(locked), std::vector<std::string>{});
    EXPECT_EQ(Entries(open).size(), 1u);
}

// Restores the working folder when it goes out of scope.
class WorkingFolder {
public:
    explicit WorkingFolder(const std::string& dir) : previous_(fs::current_path()) { fs::current_path(dir); }
    ~WorkingFolder() { fs::current_path(previous_); }

private:
    fs::path previous_;
};

// TEMP relative to the working folder, with and without a trailing separator, unset or empty
// (then TMPDIR): the scratch file lands in that folder and nowhere else.
TEST_F(HostileTemp, WhereTheScratchFileGoes) {
    const std::string work = temp_.File("work");
    const std::string other = temp_.File("other");
    fs::create_directories(work + "/rel");
    fs::create_directories(other);
    const struct {
        const char* what;
        std::map<std::string, std::string> environment;
        std::string expectedDir;
    } cases[] = {
        {"relative", {{"TEMP", "rel"}}, work + "/rel"},
        {"relative, trailing slash", {{"TEMP", "rel/"}}, work + "/rel"},
        {"relative with dot segments", {{"TEMP", "./rel/../rel"}}, work + "/rel"},
        {"absolute, trailing slash", {{"TEMP", other + "/"}}, other},
        {"absolute, doubled slash", {{"TEMP", other + "//"}}, other},
        {"unset: TMPDIR", {{"TMPDIR", other}}, other},
        {"empty: TMPDIR", {{"TEMP", ""}, {"TMPDIR", other}}, other},
        {"both set: TEMP", {{"TEMP", other}, {"TMPDIR", work + "/rel"}}, other},
    };
    const WorkingFolder cd(work);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LoadRun run(object_, c.expectedDir);
        run.platform.environment = c.environment;
        fuzz::RunMain(run);
        EXPECT_STREQ(fuzz::ExitTag(fuzz::ExitOf(run)), fuzz::ExitTag(Exit::kOk)) << g_lastFailureDetail;
        EXPECT_EQ(fuzz::CheckLoad(run, hostile::Fixture().elf.Build()), Problems{});
        const auto names = Entries(c.expectedDir);
        ASSERT_EQ(names.size(), 1u);
        EXPECT_EQ(names[0].rfind("Trenn_", 0), 0u);
        fs::remove(c.expectedDir + "/" + names[0]);
        EXPECT_EQ(Entries(work), std::vector<std::string>{"rel"});
        EXPECT_EQ(Entries(temp_.Path()), (std::vector<std::string>{"other", "work"}));
    }
}

}  // namespace
