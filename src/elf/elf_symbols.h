#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "elf/elf_format.h"
#include "runtime/binary_file.h"

namespace trenn::elf {

// The symbol-table step, run for every SHT_SYMTAB section in table order; it rebuilds
// g_symbols. An object may hold up to 32767 symbol tables that all alias the same bytes, so
// a table that passed once is not walked again: its outcome cannot differ. Tables are only
// checked as they come; g_symbols is filled once, by Settle, from the one that counts.
class SymbolTableReader {
public:
    SymbolTableReader(const BinaryFile& object, const std::vector<SectionHeader>& sections)
        : object_(object), sections_(sections) {}

    // Throws LoadFailure; g_symbols then holds what the failing step had done (reset, partly
    // filled) once Settle has run.
    void ReadSymbolTable(int index);

    // Leaves g_symbols as the steps so far would have left it. Call after the last step,
    // also after a failure.
    void Settle();

private:
    // Everything the outcome of a step depends on; the section types are fixed for the load.
    struct StepKey {
        std::int32_t recordOffset;
        std::int32_t recordCount;
        std::int32_t tableOffset;
        std::int32_t tableSize;
        auto operator<=>(const StepKey&) const = default;
    };

    // The first min(sh_size, 32768) bytes of a string table: no name may end past 32767.
    struct StringTable {
        std::vector<unsigned char> bytes;
        // For each position, where the next NUL stands, or -1 when none is within reach.
        std::vector<std::int16_t> nextNul;
        std::int32_t lastNul = -1;
    };

    const StringTable& StringTableAt(std::int32_t offset, std::int32_t size);
    // Checks the first `limit` records and, with `keep`, adds those of PROGBITS sections to
    // the freshly reset g_symbols. Returns how many passed; `problem` says why the next did not.
    std::int32_t Walk(const StepKey& key, const StringTable& table, int index, bool keep,
                      std::string& problem, std::int32_t limit = INT32_MAX);
    struct Summary {
        std::uint32_t highestName = 0;
        bool badIndex = false;
    };
    bool AllPass(const StepKey& key, const StringTable& table);
    Summary Summarize(const unsigned char* records, std::size_t count) const;
    Summary SummarizeRange(std::int32_t offset, std::int32_t count);
    // Notes that g_symbols should hold the result of the passed step `key`.
    void Owe(const StepKey& key, int index);
    void ResetSymbols();

    const BinaryFile& object_;
    const std::vector<SectionHeader>& sections_;
    std::map<std::pair<std::int32_t, std::int32_t>, std::unique_ptr<StringTable>> tables_;
    std::vector<unsigned char> records_;
    std::optional<std::pair<std::int32_t, std::int32_t>> recordsKey_;
    // Record summaries of blocks, in pages of consecutive blocks of one chain (by page number
    // and chain), and a buffer to read them through.
    static constexpr std::int64_t kPageBlocks = 1024;
    struct BlockPage {
        std::array<Summary, kPageBlocks> blocks;
        std::bitset<kPageBlocks> known;
    };
    std::unordered_map<std::uint64_t, std::unique_ptr<BlockPage>> pages_;
    std::vector<unsigned char> span_;
    std::set<StepKey> passed_;
    // The step whose result g_symbols holds, and the one whose result it should hold.
    std::optional<StepKey> held_;
    std::optional<StepKey> due_;
    int dueIndex_ = 0;
};

}  // namespace trenn::elf
