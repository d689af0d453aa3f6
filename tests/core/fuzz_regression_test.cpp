// Replays what the fuzzers found (fuzz/regressions/) and their seed corpora (fuzz/corpus/)
// through the same loading and drawing as the fuzz targets: each must end in one of the
// program's exits with every check of the driver holding, quickly. Seeds whose names start
// with an exit ("ok-", "load-", ...) must end in that one.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../../fuzz/fuzz_driver.h"
#include "support/temp_dir.h"

using namespace trenn;

namespace {

namespace fs = std::filesystem;
using Problems = std::vector<std::string>;

const fs::path kFuzzDir = fs::path(TRENN_TEST_DATA_DIR) / ".." / ".." / "fuzz";

std::vector<fs::path> FilesIn(const fs::path& dir) {
    std::vector<fs::path> files;
    if (!fs::is_directory(dir)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Loads and draws one file as the fuzz targets do; returns how it ended.
fuzz::Exit Replay(const fs::path& file, const TempDir& temp) {
    const std::vector<std::uint8_t> bytes = ReadBytes(file);
    const auto start = std::chrono::steady_clock::now();
    fuzz::LoadRun run(file.string(), temp.Path());
    fuzz::RunMain(run);
    EXPECT_EQ(fuzz::CheckLoad(run, bytes), Problems{});
    if (run.outcome == StartupOutcome::WindowShown) {
        EXPECT_EQ(fuzz::DrawEveryWay(run.loader->Model()), Problems{});
    }
    // The fuzzers stop an input after 5 s; a sanitized build is several times slower.
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
    for (const auto& entry : fs::directory_iterator(temp.Path())) fs::remove(entry.path());
    return fuzz::ExitOf(run);
}

TEST(FuzzRegressions, EveryFindingEndsInAnExit) {
    const TempDir temp;
    const auto files = FilesIn(kFuzzDir / "regressions");
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        EXPECT_NE(Replay(file, temp), fuzz::Exit::kOther) << g_lastFailureDetail;
    }
    std::printf("[ replayed ] %zu files of fuzz/regressions\n", files.size());
}

TEST(FuzzRegressions, SeedsEndInTheExitTheirNamesGive) {
    const TempDir temp;
    const auto files = FilesIn(kFuzzDir / "corpus");
    ASSERT_GT(files.size(), 100u) << "the seed corpus is missing: " << (kFuzzDir / "corpus").string();
    std::size_t tagged = 0;
    for (const fs::path& file : files) {
        const std::string name = file.filename().string();
        SCOPED_TRACE(file.parent_path().filename().string() + "/" + name);
        const fuzz::Exit exit = Replay(file, temp);
        EXPECT_NE(exit, fuzz::Exit::kOther) << g_lastFailureDetail;
        if (const auto expected = fuzz::ExitFromTag(name.substr(0, name.find('-')))) {
            ++tagged;
            EXPECT_STREQ(fuzz::ExitTag(exit), fuzz::ExitTag(*expected)) << g_lastFailureDetail;
        }
    }
    EXPECT_GT(tagged, files.size() * 9 / 10);
}

}  // namespace
