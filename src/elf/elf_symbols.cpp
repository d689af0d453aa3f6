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
constexpr std::size_t kBlockRecords = 512;
constexpr std::int64_t kBlockBytes = kBlockRecords * kSymbolSize;
// About 8 KiB each: the cache stays under 10 MiB.
constexpr std::size_t kPageCacheLimit = 1024;

}  // namespace

void SymbolTableReader::ReadSymbolTable(int index) {
    const SectionHeader& symtab = sections_[static_cast<std::size_t>(index)];
    const std::string where = SectionName(index, "SHT_SYMTAB");
    const auto sectionCount = static_cast<std::int32_t>(sections_.size());
    if (symtab.sh_link < 0 || symtab.sh_link >= sectionCount) {
        Fail(where + ": sh_link " + std::to_string(static_cast<std::uint32_t>(symtab.sh_link)) +
             " is not a section number (the file has " + std::to_string(sectionCount) +
             " sections)");
    }
    const SectionHeader& strtab = sections_[static_cast<std::size_t>(symtab.sh_link)];
    const std::string tableWhere =
        "section " + std::to_string(symtab.sh_link) + " (string table of " + where + ")";
    if (strtab.sh_size == 0) Fail(tableWhere + ": sh_size is 0");
    if (strtab.sh_size < 0) Fail(tableWhere + ": sh_size " + Hex(strtab.sh_size) + " is 2 GiB or more");
    if (!IsReadableOffset(strtab.sh_offset)) {
        Fail(tableWhere + ": sh_offset " + Hex(strtab.sh_offset) + " is 0x7FFFFFFF or more");
    }

    // The count and the record offset are judged after g_symbols has been reset, the string
    // table is read before: keep the problem until then.
    std::string problem;
    std::int32_t recordCount = 0;
    if (symtab.sh_entsize == 0) {
        problem = where + ": sh_entsize is 0";
    } else {
        const double quotient = static_cast<double>(symtab.sh_size) / static_cast<double>(symtab.sh_entsize);
        // Ties go to the even neighbour (the default rounding mode), not away from zero.
        const double last = std::nearbyint(quotient - 1.0);
        const auto ratio = [&] {
            return where + ": sh_size " + std::to_string(symtab.sh_size) + " / sh_entsize " +
                   std::to_string(symtab.sh_entsize) + " gives ";
        };
        if (last < 0) {
            problem = ratio() + "no record";
        } else if (last >= kMaxRecords) {
            problem = ratio() + std::to_string(static_cast<std::int64_t>(last) + 1) +
                      " records, more than 32767";
        } else {
            recordCount = static_cast<std::int32_t>(last) + 1;
        }
    }
    if (problem.empty() && !IsReadableOffset(symtab.sh_offset)) {
        problem = where + ": sh_offset " + Hex(symtab.sh_offset) + " is 0x7FFFFFFF or more";
    }

    const StepKey key{symtab.sh_offset, recordCount, strtab.sh_offset, strtab.sh_size};
    if (problem.empty() && passed_.contains(key)) {
        Owe(key, index);
        return;
    }

    const StringTable& table = StringTableAt(strtab.sh_offset, strtab.sh_size);
    ResetSymbols();
    if (!problem.empty()) Fail(problem);
    // Checking first and keeping later means names are copied once per load, not per table.
    if (!AllPass(key, table)) {
        const std::int32_t passed = Walk(key, table, index, false, problem);
        if (!problem.empty()) {
            Walk(key, table, index, true, problem, passed);
            Fail(problem);
        }
    }
    passed_.insert(key);
    Owe(key, index);
}

void SymbolTableReader::Settle() {
    if (!due_) return;
    const StepKey key = *due_;
    const int index = dueIndex_;
    const StringTable& table = StringTableAt(key.tableOffset, key.tableSize);
    ResetSymbols();
    std::string problem;
    Walk(key, table, index, true, problem);
    if (!problem.empty()) Fail(problem);  // the file changed under us
    held_ = key;
}

void SymbolTableReader::Owe(const StepKey& key, int index) {
    due_.reset();
    if (held_ != key) {
        due_ = key;
        dueIndex_ = index;
    }
}

void SymbolTableReader::ResetSymbols() {
    g_symbols.emplace(1);
    held_.reset();
    due_.reset();
}

// A name is good exactly when it starts at or before the table's last NUL byte, so whether
// all records pass depends on the highest st_name and on any bad st_shndx only.
bool SymbolTableReader::AllPass(const StepKey& key, const StringTable& table) {
    if (table.lastNul < 0) return false;
    const Summary summary = SummarizeRange(key.recordOffset, key.recordCount);
    return !summary.badIndex && summary.highestName <= static_cast<std::uint32_t>(table.lastNul);
}

SymbolTableReader::Summary SymbolTableReader::Summarize(const unsigned char* records,
                                                        std::size_t count) const {
    Summary summary;
    const auto sectionCount = static_cast<std::uint32_t>(sections_.size());
    for (std::size_t j = 0; j < count; ++j) {
        const SymbolRecord symbol = SymbolRecord::Parse(records + j * kSymbolSize);
        summary.highestName = std::max(summary.highestName, symbol.st_name);
        const std::uint32_t shndx = symbol.st_shndx;
        summary.badIndex |= shndx >= sectionCount && shndx < kFirstReservedIndex;
    }
    return summary;
}

// Symbol tables that overlap without coinciding (one starting a record after the other, say)
// share their records: summaries of whole blocks of records are kept, so each block is read
// and scanned once, and a table costs its two partial end blocks plus one lookup per block.
SymbolTableReader::Summary SymbolTableReader::SummarizeRange(std::int32_t offset,
                                                             std::int32_t count) {
    const auto join = [](Summary& into, const Summary& more) {
        into.highestName = std::max(into.highestName, more.highestName);
        into.badIndex |= more.badIndex;
    };
    const auto scan = [&](std::int64_t from, std::int64_t to, Summary& into) {
        if (from >= to) return;
        span_.resize(static_cast<std::size_t>(to - from));
        object_.ReadAt(static_cast<std::uint64_t>(from), span_.data(), span_.size());
        join(into, Summarize(span_.data(), span_.size() / kSymbolSize));
    };

    // Blocks of a chain start at the chain's residue: records of one table all lie on one chain.
    const std::int64_t chain = offset % static_cast<std::int64_t>(kSymbolSize);
    const std::int64_t end = offset + static_cast<std::int64_t>(count) * kSymbolSize;
    const std::int64_t firstBlock = (offset - chain + kBlockBytes - 1) / kBlockBytes;
    const std::int64_t endBlock = (end - chain) / kBlockBytes;
    const auto blockStart = [&](std::int64_t block) { return chain + block * kBlockBytes; };
    Summary total;
    if (firstBlock >= endBlock) {
        scan(offset, end, total);
        return total;
    }
    scan(offset, blockStart(firstBlock), total);
    scan(blockStart(endBlock), end, total);

    if (pages_.size() > kPageCacheLimit) pages_.clear();
    BlockPage* page = nullptr;
    std::int64_t pageNumber = -1;
    std::int64_t block = firstBlock;
    while (block < endBlock) {
        if (block / kPageBlocks != pageNumber) {
            pageNumber = block / kPageBlocks;
            auto& slot = pages_[static_cast<std::uint64_t>(pageNumber) * kSymbolSize +
                                static_cast<std::uint64_t>(chain)];
            if (!slot) slot = std::make_unique<BlockPage>();
            page = slot.get();
        }
        const auto at = [&](std::int64_t b) { return static_cast<std::size_t>(b % kPageBlocks); };
        if (page->known[at(block)]) {
            join(total, page->blocks[at(block)]);
            ++block;
            continue;
        }
        // Read the run of blocks not seen yet in one piece.
        std::int64_t runEnd = block + 1;
        while (runEnd < endBlock && runEnd / kPageBlocks == pageNumber && !page->known[at(runEnd)]) {
            ++runEnd;
        }
        span_.resize(static_cast<std::size_t>((runEnd - block) * kBlockBytes));
        object_.ReadAt(static_cast<std::uint64_t>(blockStart(block)), span_.data(), span_.size());
        for (std::int64_t b = block; b < runEnd; ++b) {
            const Summary summary = Summarize(
                span_.data() + static_cast<std::size_t>((b - block) * kBlockBytes), kBlockRecords);
            page->blocks[at(b)] = summary;
            page->known[at(b)] = true;
            join(total, summary);
        }
        block = runEnd;
    }
    return total;
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
        if (next >= 0 && table->lastNul < 0) table->lastNul = next;
    }
    return *tables_.emplace(cacheKey, std::move(table)).first->second;
}

std::int32_t SymbolTableReader::Walk(const StepKey& key, const StringTable& table, int index,
                                     bool keep, std::string& problem, std::int32_t limit) {
    if (recordsKey_ != std::make_pair(key.recordOffset, key.recordCount)) {
        const std::size_t length = static_cast<std::size_t>(key.recordCount) * kSymbolSize;
        records_.resize(length);
        object_.ReadAt(static_cast<std::uint64_t>(key.recordOffset), records_.data(), length);
        recordsKey_ = std::make_pair(key.recordOffset, key.recordCount);
    }

    const std::int32_t end = std::min(limit, key.recordCount);

    std::vector<SymbolEntry>& symbols = *g_symbols;
    std::size_t kept = 0;
    const std::size_t tableLength = table.bytes.size();
    for (std::int32_t j = 0; j < end; ++j) {
        const SymbolRecord symbol = SymbolRecord::Parse(records_.data() + static_cast<std::size_t>(j) * kSymbolSize);
        const std::uint32_t nameOffset = symbol.st_name;
        if (nameOffset >= tableLength || table.nextNul[nameOffset] < 0) {
            const std::string what = SectionName(index, "SHT_SYMTAB") + ": symbol " +
                                     std::to_string(j) + ": st_name " + std::to_string(nameOffset);
            if (nameOffset > static_cast<std::uint32_t>(kLastNamePosition)) {
                problem = what + " is outside 0..32767";
            } else if (nameOffset >= tableLength) {
                problem = what + " lies past the end of the string table (" +
                          std::to_string(key.tableSize) + " bytes)";
            } else if (tableLength < static_cast<std::size_t>(key.tableSize)) {
                problem = what + ": the name has no NUL byte at or before offset 32767";
            } else {
                problem = what + ": the name runs to the end of the string table without a NUL byte";
            }
            return j;
        }

        const std::uint16_t shndx = symbol.st_shndx;
        if (shndx >= kFirstReservedIndex) continue;
        if (shndx >= sections_.size()) {
            problem = SectionName(index, "SHT_SYMTAB") + ": symbol " + std::to_string(j) +
                      ": st_shndx " + Hex(static_cast<std::uint32_t>(shndx)) +
                      " is not a section number (the file has " +
                      std::to_string(sections_.size()) + " sections)";
            return j;
        }
        if (!keep || sections_[shndx].sh_type != kShtProgbits) continue;

        const auto nameLength = std::min<std::size_t>(
            static_cast<std::size_t>(table.nextNul[nameOffset]) - nameOffset, kStoredNameLength);
        SymbolEntry entry{
            std::string(reinterpret_cast<const char*>(table.bytes.data()) + nameOffset, nameLength),
            symbol.st_value};
        // The reset left one empty entry: the first kept symbol takes its place.
        if (kept == 0) {
            symbols[0] = std::move(entry);
        } else {
            symbols.push_back(std::move(entry));
        }
        ++kept;
    }
    return end;
}

}  // namespace trenn::elf
