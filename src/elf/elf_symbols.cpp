#include "elf/elf_symbols.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "elf/elf_data.h"
#include "runtime/load_failure.h"

namespace trenn::elf {
namespace {

// Names are walked with a signed 16-bit position, so none can reach past this offset.
constexpr std::int32_t kLastNamePosition = 32767;
constexpr std::size_t kTableReach = kLastNamePosition + 1;
// The record counter is signed 16-bit as well.
constexpr double kMaxRecords = 32767;
// Each cached table takes about 96 KiB.
constexpr std::size_t kTableCacheLimit = 16;
// st_shndx values from here up are reserved (absolute, common, ...): no section defines them.
constexpr std::uint16_t kFirstReservedIndex = 0xFF00;

}  // namespace

void SymbolTableReader::ReadSymbolTable(int index) {
    const SectionHeader& symtab = sections_[static_cast<std::size_t>(index)];
    const std::string where = SectionName(index, "SHT_SYMTAB");
    const auto sectionCount = static_cast<std::int32_t>(sections_.size());
    if (symtab.link < 0 || symtab.link >= sectionCount) {
        Fail(where + ": sh_link " + std::to_string(static_cast<std::uint32_t>(symtab.link)) +
             " is not a section number (the file has " + std::to_string(sectionCount) +
             " sections)");
    }
    const SectionHeader& strtab = sections_[static_cast<std::size_t>(symtab.link)];
    const std::string tableWhere =
        "section " + std::to_string(symtab.link) + " (string table of " + where + ")";
    if (strtab.size == 0) Fail(tableWhere + ": sh_size is 0");
    if (strtab.size < 0) Fail(tableWhere + ": sh_size " + Hex(strtab.size) + " is 2 GiB or more");
    if (!IsReadableOffset(strtab.offset)) {
        Fail(tableWhere + ": sh_offset " + Hex(strtab.offset) + " is 0x7FFFFFFF or more");
    }

    // The count and the record offset are judged after g_symbols has been reset, the string
    // table is read before: keep the problem until then.
    std::string problem;
    std::int32_t recordCount = 0;
    if (symtab.entsize == 0) {
        problem = where + ": sh_entsize is 0";
    } else {
        const double quotient = static_cast<double>(symtab.size) / static_cast<double>(symtab.entsize);
        // Ties go to the even neighbour (the default rounding mode), not away from zero.
        const double last = std::nearbyint(quotient - 1.0);
        const std::string ratio = "sh_size " + std::to_string(symtab.size) + " / sh_entsize " +
                                  std::to_string(symtab.entsize);
        if (last < 0) {
            problem = where + ": " + ratio + " gives no record";
        } else if (last >= kMaxRecords) {
            problem = where + ": " + ratio + " gives " + std::to_string(static_cast<std::int64_t>(last) + 1) +
                      " records, more than 32767";
        } else {
            recordCount = static_cast<std::int32_t>(last) + 1;
        }
    }
    if (problem.empty() && !IsReadableOffset(symtab.offset)) {
        problem = where + ": sh_offset " + Hex(symtab.offset) + " is 0x7FFFFFFF or more";
    }

    const StepKey key{symtab.offset, recordCount, strtab.offset, strtab.size};
    if (problem.empty() && passed_.contains(key)) {
        due_ = held_ == key ? std::nullopt : std::optional<StepKey>(key);
        dueIndex_ = index;
        return;
    }

    const StringTable& table = StringTableAt(strtab.offset, strtab.size);
    ResetSymbols();
    if (!problem.empty()) Fail(problem);
    Walk(key, table, index);
    passed_.insert(key);
    held_ = key;
}

void SymbolTableReader::Settle() {
    if (!due_) return;
    const StepKey key = *due_;
    const int index = dueIndex_;
    const StringTable& table = StringTableAt(key.tableOffset, key.tableSize);
    ResetSymbols();
    Walk(key, table, index);
    held_ = key;
}

void SymbolTableReader::ResetSymbols() {
    g_symbols.emplace(1);
    held_.reset();
    due_.reset();
}

const SymbolTableReader::StringTable& SymbolTableReader::StringTableAt(std::int32_t offset,
                                                                       std::int32_t size) {
    const auto cacheKey = std::make_pair(offset, size);
    if (const auto found = tables_.find(cacheKey); found != tables_.end()) return *found->second;
    if (tables_.size() >= kTableCacheLimit) tables_.clear();

    auto table = std::make_unique<StringTable>();
    const std::size_t length = std::min(static_cast<std::size_t>(size), kTableReach);
    table->bytes.resize(length);
    object_.ReadAt(static_cast<std::uint64_t>(offset), table->bytes.data(), length);
    table->nextNul.resize(length);
    std::int16_t next = -1;
    for (std::size_t p = length; p-- > 0;) {
        if (table->bytes[p] == 0) next = static_cast<std::int16_t>(p);
        table->nextNul[p] = next;
    }
    return *tables_.emplace(cacheKey, std::move(table)).first->second;
}

void SymbolTableReader::Walk(const StepKey& key, const StringTable& table, int index) {
    const std::size_t length = static_cast<std::size_t>(key.recordCount) * kSymbolSize;
    records_.resize(length);
    object_.ReadAt(static_cast<std::uint64_t>(key.recordOffset), records_.data(), length);

    std::vector<SymbolEntry>& symbols = *g_symbols;
    std::size_t kept = 0;
    const std::size_t tableLength = table.bytes.size();
    for (std::int32_t j = 0; j < key.recordCount; ++j) {
        const unsigned char* record = records_.data() + static_cast<std::size_t>(j) * kSymbolSize;
        const std::uint32_t nameOffset = U32At(record);
        if (nameOffset > static_cast<std::uint32_t>(kLastNamePosition) || nameOffset >= tableLength ||
            table.nextNul[nameOffset] < 0) {
            const std::string what = SectionName(index, "SHT_SYMTAB") + ": symbol " +
                                     std::to_string(j) + ": st_name " + std::to_string(nameOffset);
            if (nameOffset > static_cast<std::uint32_t>(kLastNamePosition)) {
                Fail(what + " is outside 0..32767");
            }
            if (nameOffset >= tableLength) {
                Fail(what + " lies past the end of the string table (" +
                     std::to_string(key.tableSize) + " bytes)");
            }
            if (tableLength < static_cast<std::size_t>(key.tableSize)) {
                Fail(what + ": the name has no NUL byte at or before offset 32767");
            }
            Fail(what + ": the name runs to the end of the string table without a NUL byte");
        }

        const std::uint16_t shndx = U16At(record + 14);
        if (shndx >= kFirstReservedIndex) continue;
        if (shndx >= sections_.size()) {
            Fail(SectionName(index, "SHT_SYMTAB") + ": symbol " + std::to_string(j) +
                 ": st_shndx " + Hex(static_cast<std::uint32_t>(shndx)) +
                 " is not a section number (the file has " + std::to_string(sections_.size()) +
                 " sections)");
        }
        if (sections_[shndx].type != kShtProgbits) continue;

        const auto nameLength = std::min<std::size_t>(
            static_cast<std::size_t>(table.nextNul[nameOffset]) - nameOffset, kStoredNameLength);
        SymbolEntry entry{
            std::string(reinterpret_cast<const char*>(table.bytes.data()) + nameOffset, nameLength),
            I32At(record + 4)};
        // The reset left one empty entry: the first kept symbol takes its place.
        if (kept == 0) {
            symbols[0] = std::move(entry);
        } else {
            symbols.push_back(std::move(entry));
        }
        ++kept;
    }
}

}  // namespace trenn::elf
