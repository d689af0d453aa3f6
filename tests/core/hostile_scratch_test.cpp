// The scratch file under attack: entries planted at its path beforehand or in the moment
// between the removal of the old file and the creation of the new one, and TEMP values that
// point nowhere useful. Everything goes through Main, as the program runs.

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/wait.h>
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
        // The clock of the fake platform is fixed, so every start in this process draws this
        // name first.
        LoadRun probe(object_, temp_.Path());
        fuzz::RunMain(probe);
        ASSERT_EQ(fuzz::ExitOf(probe), Exit::kOk) << g_lastFailureDetail;
        scratch_ = probe.loader->ScratchPath();
        scratchName_ = fs::path(scratch_).filename().string();
        good_ = ReadAll(scratch_);
        probe.loader.reset();
        ASSERT_EQ(Entries(temp_.Path()), std::vector<std::string>{});
        victim_ = files_.File("victim");
        std::ofstream(victim_) << "keep";
        struct stat info {};
        ASSERT_EQ(::stat(victim_.c_str(), &info), 0);
        victimMode_ = info.st_mode;
    }

    // A scratch file this run made: a plain file of its own, owner-only, holding the bytes.
    void ExpectFreshScratch(const LoadRun& run) const {
        const std::string path = run.loader->ScratchPath();
        struct stat info {};
        ASSERT_EQ(::lstat(path.c_str(), &info), 0);
        EXPECT_TRUE(S_ISREG(info.st_mode));
        EXPECT_EQ(info.st_nlink, 1u);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        EXPECT_EQ(ReadAll(path), good_);
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
    mode_t type;  // what lstat finds at the path afterwards
};

const Plant kPlants[] = {
    {"live symlink", [](const std::string& p, const std::string& v, const std::string&) { return ::symlink(v.c_str(), p.c_str()); }, S_IFLNK},
    {"dangling symlink", [](const std::string& p, const std::string&, const std::string& n) { return ::symlink(n.c_str(), p.c_str()); }, S_IFLNK},
    {"hard link", [](const std::string& p, const std::string& v, const std::string&) { return ::link(v.c_str(), p.c_str()); }, S_IFREG},
    {"fifo", [](const std::string& p, const std::string&, const std::string&) { return ::mkfifo(p.c_str(), 0666); }, S_IFIFO},
    {"directory", [](const std::string& p, const std::string&, const std::string&) { return ::mkdir(p.c_str(), 0777); }, S_IFDIR},
    {"another program's scratch file", [](const std::string& p, const std::string&, const std::string&) {
         std::ofstream(p) << "theirs";
         return 0;
     }, S_IFREG},
};

// Whatever stands at the name drawn first stays as it is, neither removed, opened nor written
// through: the load draws another name and makes its file there; when the run goes, its own
// file goes with it and the planted entry is still there.
TEST_F(HostileScratch, EntriesPlantedBeforehand) {
    const std::string nowhere = files_.File("nowhere");
    for (const Plant& plant : kPlants) {
        SCOPED_TRACE(plant.what);
        ASSERT_EQ(plant.make(scratch_, victim_, nowhere), 0) << std::strerror(errno);
        {
            LoadRun run(object_, temp_.Path());
            fuzz::RunMain(run);
            ASSERT_STREQ(fuzz::ExitTag(fuzz::ExitOf(run)), fuzz::ExitTag(Exit::kOk)) << g_lastFailureDetail;
            EXPECT_NE(run.loader->ScratchPath(), scratch_);
            ExpectFreshScratch(run);
            EXPECT_EQ(Entries(temp_.Path()).size(), 2u);
        }
        struct stat info {};
        ASSERT_EQ(::lstat(scratch_.c_str(), &info), 0) << "the planted entry was removed";
        EXPECT_EQ(info.st_mode & S_IFMT, plant.type);
        if (plant.type == S_IFREG && std::string(plant.what) != "hard link") {
            EXPECT_EQ(ReadAll(scratch_), "theirs");
        }
        ExpectVictimUntouched();
        EXPECT_FALSE(fs::exists(fs::symlink_status(nowhere)));
        EXPECT_EQ(Entries(temp_.Path()), std::vector<std::string>{scratchName_});
        fs::remove(scratch_);
    }
}

// Two programs started in the same instant, each loading its own file at the same moment:
// they draw different names, and where they are made to draw the same ones (the same clock
// and process number), the second finds the first one's file there and draws another. Either
// way each shows its own model, and neither touches the other's file.
TEST_F(HostileScratch, TwoStartsInTheSameInstant) {
    const std::string torus = files_.File("torus.o");
    elfgen::WriteFile(torus, elfgen::BuildModelObject(elfgen::MakeTorusParts(5, 12, 6, 2.0f, 0.5f)));
    // What each file shows when loaded alone: every part's vertex and index count.
    using Shape = std::vector<std::pair<std::size_t, std::size_t>>;
    const auto shapeOf = [] {
        Shape shape;
        for (const MeshPart& part : g_parts) shape.emplace_back(part.vertices.size(), part.indices.size());
        return shape;
    };
    struct Load {
        std::string object;
        Shape shape;
        std::string scratch;
    };
    std::vector<Load> loads;
    for (const std::string& object : {object_, torus}) {
        LoadRun alone(object, temp_.Path());
        fuzz::RunMain(alone);
        ASSERT_EQ(fuzz::ExitOf(alone), Exit::kOk) << g_lastFailureDetail;
        loads.push_back({object, shapeOf(), ReadAll(alone.loader->ScratchPath())});
    }
    ASSERT_NE(loads[0].shape, loads[1].shape);
    const struct {
        const char* what;
        std::optional<std::uint64_t> processId;
    } cases[] = {{"own process numbers", std::nullopt}, {"one process number", 4242}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int go[2];
        ASSERT_EQ(::pipe(go), 0);
        std::vector<pid_t> children;
        for (const Load& load : loads) {
            const pid_t child = ::fork();
            if (child == 0) {
                ::close(go[1]);
                char start;
                if (::read(go[0], &start, 1) != 1) ::_exit(3);
                LoadRun run(load.object, temp_.Path());
                run.platform.processId = c.processId;
                fuzz::RunMain(run);
                const bool shown = fuzz::ExitOf(run) == Exit::kOk && shapeOf() == load.shape;
                // Both scratch files stand side by side while both models are shown, each
                // still the one its program wrote.
                ::usleep(200000);
                const bool kept = ReadAll(run.loader->ScratchPath()) == load.scratch;
                ::_exit(shown && kept ? 0 : 1);
            }
            children.push_back(child);
        }
        ::close(go[0]);
        ASSERT_EQ(::write(go[1], "gg", 2), 2);
        ::close(go[1]);
        for (const pid_t child : children) {
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a start did not show its own model";
        }
        // Each child ended without its loader removing its file; what is left is theirs alone.
        EXPECT_LE(Entries(temp_.Path()).size(), 2u);
        for (const std::string& name : Entries(temp_.Path())) fs::remove(temp_.File(name));
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
