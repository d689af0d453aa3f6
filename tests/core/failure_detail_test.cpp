// What a failed load says about why, word for word: the text behind the Error box's
// "Show Details...", on trenn's stderr and in trenn-inspect's "detail". Each row is a file
// that fails in one way, made from the same valid model.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <limits>
#include <string>

#include "../../fuzz/fuzz_driver.h"
#include "../../fuzz/hostile_cases.h"
#include "elf/elf_data.h"
#include "elfgen/elf_builder.h"
#include "support/temp_dir.h"

using namespace trenn;
using fuzz::Exit;
using hostile::Fixture;
using hostile::Model;

namespace {

// Replaces every "{path}" in the text with the path.
std::string WithPath(std::string text, const std::string& path) {
    for (std::size_t at = text.find("{path}"); at != std::string::npos; at = text.find("{path}", at)) {
        text.replace(at, 6, path);
        at += path.size();
    }
    return text;
}

elfgen::Bytes WithCoordinate(float value) {
    elfgen::Mesh mesh = Fixture::Wing();
    mesh.vertices[1][2] = value;
    return Fixture("__geoprimdatabufferWing", mesh).elf.Build();
}

// An object of plain data, as a compiler makes it of `int counter;`: no part symbol.
elfgen::Bytes CounterOnly() {
    elfgen::ElfBuilder elf;
    const std::uint16_t data = elf.AddProgbits(elfgen::Bytes(16, 0));
    std::vector<std::uint32_t> names;
    const std::uint16_t strtab = elf.AddStrtab({"counter"}, &names);
    elf.AddSymtab({{}, {names[0], 0, 4, 0x11, 0, data}}, strtab);
    return elf.Build();
}

elfgen::Bytes Elf64(const std::function<void(Fixture&)>& change) {
    return Model([&](Fixture& f) {
        f.elf.ident[4] = 2;
        change(f);
    });
}

TEST(FailureDetail, EachFailureSaysWhy) {
    using Make = std::function<void(const std::string& path)>;
    const auto bytes = [](elfgen::Bytes content) -> Make {
        return [content](const std::string& path) { elfgen::WriteFile(path, content); };
    };
    const std::string symtab = "section 5 (SHT_SYMTAB): symbol 3: ";
    const std::uint32_t strtabSize = static_cast<std::uint32_t>(Fixture().Strtab().data.size());
    const std::string part = "part 1 (symbol 1, value 0x40): ";
    const struct {
        const char* what;
        Make make;
        Exit exit;
        std::string detail;
    } cases[] = {
        {"text file", bytes({'#', 'i', 'n', 'c', '\n'}), Exit::kMagic,
         "the first four bytes of {path} are not 7F 45 4C 46"},
        {"class byte 2 without the magic", bytes({0, 'E', 'L', 'F', 2}), Exit::kMagic,
         "the first four bytes of {path} are not 7F 45 4C 46"},
        {"missing file", [](const std::string&) {}, Exit::kLoad,
         "cannot open {path}: No such file or directory"},
        {"folder", [](const std::string& path) { ::mkdir(path.c_str(), 0700); }, Exit::kLoad,
         "cannot open {path}: not a regular file"},
        {"fifo", [](const std::string& path) { ::mkfifo(path.c_str(), 0600); }, Exit::kLoad,
         "cannot open {path}: not a regular file"},
        {"e_shnum 0x8000", bytes(Model([](Fixture& f) { f.elf.shnum = 0x8000; })), Exit::kLoad,
         "e_shnum 0x8000 is negative as a 16-bit count"},
        {"PROGBITS sh_size 0x80000000", bytes(Model([](Fixture& f) { f.Data().size = 0x80000000; })),
         Exit::kLoad, "section 2 (SHT_PROGBITS): sh_size 0x80000000 is 2 GiB or more"},
        {"sh_link past the table", bytes(Model([](Fixture& f) { f.Symtab().link = 6; })), Exit::kLoad,
         "section 5 (SHT_SYMTAB): sh_link 6 is not a section number (the file has 6 sections)"},
        {"st_name 32768", bytes(Model([](Fixture& f) { f.SymbolField(Fixture::kPartRecord, 0, 32768); })),
         Exit::kLoad, symtab + "st_name 32768 is outside 0..32767"},
        {"st_name at the end of the string table",
         bytes(Model([&](Fixture& f) { f.SymbolField(Fixture::kPartRecord, 0, strtabSize); })), Exit::kLoad,
         symtab + "st_name " + std::to_string(strtabSize) + " lies past the end of the string table (" +
             std::to_string(strtabSize) + " bytes)"},
        {"last name without its NUL",
         bytes(Model([](Fixture& f) { f.Strtab().size = static_cast<std::uint32_t>(f.Strtab().data.size() - 1); })), Exit::kLoad,
         symtab + "st_name " + std::to_string(Fixture().names[1]) +
             ": the name runs to the end of the string table without a NUL byte"},
        {"st_shndx past the table", bytes(Model([](Fixture& f) { f.SymbolShndx(Fixture::kPartRecord, 6); })),
         Exit::kLoad, symtab + "st_shndx 0x6 is not a section number (the file has 6 sections)"},
        {"no symbol table", bytes({0x7F, 'E', 'L', 'F'}), Exit::kCorrupt, "the object file has no symbol table"},
        {"no part symbol", bytes(Model([](Fixture& f) { f.SymbolShndx(Fixture::kPartRecord, 0xFF00); })),
         Exit::kNotUnderstood,
         "no symbol name starts with \"__geoprimdatabuffer\", and the first symbol kept has an empty name"},
        {"no part symbol, the first symbol at value 0", bytes(CounterOnly()), Exit::kCorrupt,
         "no symbol name starts with \"__geoprimdatabuffer\" (the first symbol kept, \"counter\", was read as "
         "a part instead: part 1 (symbol 0, value 0x0): the symbol value is below 1)"},
        {"symbol value 0", bytes(Model([](Fixture& f) { f.SymbolField(Fixture::kPartRecord, 4, 0); })),
         Exit::kCorrupt, "part 1 (symbol 1, value 0x0): the symbol value is below 1"},
        {"vertex count 0", bytes(Model([](Fixture& f) { f.MeshField(Fixture::kVertexCount, 0); })),
         Exit::kCorrupt, part + "vertex count 0 is below 1 (mesh block at 0x40)"},
        {"vertex count 32769", bytes(Model([](Fixture& f) { f.MeshField(Fixture::kVertexCount, 32769); })),
         Exit::kCorrupt, part + "vertex count 32769 is above 32768 (mesh block at 0x40)"},
        {"index offset -1", bytes(Model([](Fixture& f) { f.MeshField(Fixture::kIndexOffset, 0xFFFFFFFF); })),
         Exit::kCorrupt, part + "index data offset (mesh block at 0x40) -1 is not a file position"},
        {"NaN coordinate", bytes(WithCoordinate(std::numeric_limits<float>::quiet_NaN())), Exit::kCorrupt,
         "part 1, vertex 1: coordinate is not a number"},
        {"infinite coordinate", bytes(WithCoordinate(-std::numeric_limits<float>::infinity())),
         Exit::kCorrupt, "part 1, vertex 1: coordinate is infinite"},
        {"views that ask for more work than the data allows", bytes(hostile::VertexViewsIntoTheTail(200)),
         Exit::kCorrupt,
         "the parts ask for 6554000 vertices and strip triangles to be drawn, more than the 1060088 "
         "allowed for 11512 bytes of data"},
        // A 64-bit object read with the 32-bit layout fails wherever it happens to: the detail
        // says why rather than where.
        {"64-bit, load failure", bytes(Elf64([](Fixture& f) { f.elf.shnum = 0x8000; })), Exit::kLoad,
         kElf64Detail},
        {"64-bit, no part symbol", bytes(Elf64([](Fixture& f) { f.SymbolShndx(Fixture::kPartRecord, 0xFF00); })),
         Exit::kNotUnderstood, kElf64Detail},
        {"64-bit, no symbol table", bytes({0x7F, 'E', 'L', 'F', 2}), Exit::kCorrupt, kElf64Detail},
        {"64-bit that loads", bytes(Elf64([](Fixture&) {})), Exit::kOk, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir files;
        TempDir temp;
        const std::string path = files.File("object.o");
        c.make(path);
        fuzz::LoadRun run(path, temp.Path());
        fuzz::RunMain(run);
        EXPECT_STREQ(fuzz::ExitTag(fuzz::ExitOf(run)), fuzz::ExitTag(c.exit));
        if (c.exit == Exit::kOk) {
            EXPECT_TRUE(run.platform.details.empty());
            continue;
        }
        ASSERT_EQ(run.platform.details.size(), 1u);
        EXPECT_EQ(run.platform.details[0], WithPath(c.detail, path));
        EXPECT_EQ(g_lastFailureDetail, run.platform.details[0]);
    }
}

}  // namespace
