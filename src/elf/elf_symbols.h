#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "elf/elf_format.h"
#include "runtime/binary_file.h"

namespace trenn::elf {

// The symbol-table step, run for every SHT_SYMTAB section in table order; it rebuilds
// g_symbols. An object may hold up to 32767 symbol tables that all alias the same bytes, so
// a table that passed once is not walked again: its outcome cannot differ. g_symbols is then
// brought up to date once, by Settle, instead of after every table.
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
    };

    const StringTable& StringTableAt(std::int32_t offset, std::int32_t size);
    // Fills the freshly reset g_symbols from the records; throws at the first bad record.
    void Walk(const StepKey& key, const StringTable& table, int index);
    void ResetSymbols();

    const BinaryFile& object_;
    const std::vector<SectionHeader>& sections_;
    std::map<std::pair<std::int32_t, std::int32_t>, std::unique_ptr<StringTable>> tables_;
    std::vector<unsigned char> records_;
    std::set<StepKey> passed_;
    // The step whose result g_symbols holds, and the one whose result it should hold.
    std::optional<StepKey> held_;
    std::optional<StepKey> due_;
    int dueIndex_ = 0;
};

}  // namespace trenn::elf
