#include "elf/elf_data.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "elf/elf_format.h"
#include "elf/elf_symbols.h"
#include "runtime/binary_file.h"
#include "runtime/load_failure.h"
#include "runtime/scratch_file.h"

namespace trenn {

std::string g_errorText;
std::optional<std::vector<SymbolEntry>> g_symbols;
std::string g_loadFailureDetail;

namespace {

using namespace elf;

constexpr unsigned char kMagic[4] = {0x7F, 'E', 'L', 'F'};

// One pass of LoadElfObject. PROGBITS sections are checked in table order as they come, but
// written only at the end (also after a failure), last to first, so that every byte of the
// scratch file is written once however many sections overlap.
class ObjectLoad {
public:
    // A scratch file that is not open yet is made at the first section that writes.
    ObjectLoad(const std::string& objectPath, ScratchFile& scratchFile)
        : objectPath_(objectPath), scratchFile_(scratchFile) {}

    void Run() {
        object_ = BinaryFile::OpenForReading(objectPath_);
        ReadSectionTable();
        symbols_.emplace(object_, sections_);
        for (std::size_t i = 0; i < sections_.size(); ++i) {
            const int index = static_cast<int>(i);
            if (sections_[i].sh_type == kShtProgbits) PlanCopy(index);
            if (sections_[i].sh_type == kShtSymtab) symbols_->ReadSymbolTable(index);
        }
        WriteScratch();
        symbols_->Settle();
    }

    // After a failure: the scratch file and g_symbols as the sections before it left them.
    void FinishAfterFailure() {
        WriteScratch();
        if (symbols_) symbols_->Settle();
    }

private:
    struct Copy {
        std::int32_t offset;
        std::int32_t size;
    };

    void ReadSectionTable() {
        unsigned char header[kHeaderSize];
        object_.ReadAt(0, header, sizeof header);
        if (std::memcmp(header, kMagic, sizeof kMagic) != 0) {
            g_errorText = kMagicFailureText;
            char found[16];
            std::snprintf(found, sizeof found, "%02X %02X %02X %02X", header[0], header[1],
                          header[2], header[3]);
            Fail(std::string("the file starts with ") + found + ", not with the ELF magic 7F 45 4C 46");
        }
        const FileHeader file = FileHeader::Parse(header);
        const std::int16_t count = file.e_shnum;
        if (count < 0) {
            Fail("e_shnum " + Hex(static_cast<std::uint32_t>(static_cast<std::uint16_t>(count))) +
                 " is negative as a 16-bit count");
        }
        if (count == 0) return;  // nothing is read, so e_shoff does not matter
        const std::int32_t tableOffset = file.e_shoff;
        if (!IsReadableOffset(tableOffset)) {
            Fail("e_shoff " + Hex(tableOffset) + " is 0x7FFFFFFF or more");
        }
        std::vector<unsigned char> table(static_cast<std::size_t>(count) * kSectionHeaderSize);
        object_.ReadAt(static_cast<std::uint64_t>(tableOffset), table.data(), table.size());
        sections_.reserve(static_cast<std::size_t>(count));
        for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) {
            sections_.push_back(SectionHeader::Parse(table.data() + i * kSectionHeaderSize));
        }
    }

    void PlanCopy(int index) {
        const SectionHeader& section = sections_[static_cast<std::size_t>(index)];
        // Every compiler emits empty PROGBITS sections (.text, .note.GNU-stack): nothing to copy.
        if (section.sh_size == 0) return;
        const std::string where = SectionName(index, "SHT_PROGBITS");
        if (section.sh_size < 0) Fail(where + ": sh_size " + Hex(section.sh_size) + " is 2 GiB or more");
        // Exclusive, so an entry that reappeared after the removal is never written through.
        if (!scratchFile_.IsOpen()) scratchFile_.Create();
        if (!IsReadableOffset(section.sh_offset)) {
            Fail(where + ": sh_offset " + Hex(section.sh_offset) + " is 0x7FFFFFFF or more");
        }
        copies_.push_back({section.sh_offset, section.sh_size});
    }

    // Byte x of the scratch file comes from the last section longer than x, so going from the
    // last section back, each one writes only the range past everything later ones wrote. The
    // file is new and empty: bytes not written (source past its end) stay holes, read as zeros.
    // Where the copied bytes end is noted, so that nothing past it is ever read as data, even
    // where the file system cannot keep holes.
    void WriteScratch() {
        const std::vector<Copy> copies = std::exchange(copies_, {});  // once, even if it fails
        std::uint64_t covered = 0;
        std::uint64_t dataEnd = 0;
        BinaryFile& scratch = scratchFile_.File();
        for (auto copy = copies.rbegin(); copy != copies.rend(); ++copy) {
            const auto size = static_cast<std::uint64_t>(copy->size);
            if (size <= covered) continue;
            const std::uint64_t copied = scratch.CopyFrom(
                object_, static_cast<std::uint64_t>(copy->offset) + covered, covered, size - covered);
            if (copied > 0) dataEnd = std::max(dataEnd, covered + copied);
            covered = size;
        }
        if (scratch.IsOpen()) {
            scratch.ExtendTo(covered);
            scratchFile_.SetDataEnd(dataEnd);
        }
    }

    const std::string& objectPath_;
    ScratchFile& scratchFile_;
    BinaryFile object_;
    std::vector<SectionHeader> sections_;
    std::vector<Copy> copies_;
    std::optional<SymbolTableReader> symbols_;
};

}  // namespace

Bool16 LoadElfObject(const std::string& objectPath, const std::string& scratchPath) {
    ScratchFile scratch(scratchPath);
    try {
        RemoveEntry(scratchPath);
    } catch (const LoadFailure& error) {
        g_loadFailureDetail = error.what();
        return kFalse;
    }
    const Bool16 result = LoadElfObject(objectPath, scratch);
    scratch.Release();
    return result;
}

Bool16 LoadElfObject(const std::string& objectPath, ScratchFile& scratch) {
    ObjectLoad load(objectPath, scratch);
    std::string failure;
    try {
        load.Run();
        g_loadFailureDetail.clear();
        return kTrue;
    } catch (const LoadFailure& error) {
        failure = error.what();
    } catch (const std::bad_alloc&) {
        failure = "out of memory";
    }
    try {
        load.FinishAfterFailure();
    } catch (const LoadFailure&) {
        // Only an I/O error can get here, everything was checked before. The load has failed
        // anyway, and the first reason is the one to report.
    } catch (const std::bad_alloc&) {
    }
    g_loadFailureDetail = failure;
    return kFalse;
}

std::optional<std::uint8_t> ElfClassByte(const std::string& objectPath) {
    try {
        const BinaryFile object = BinaryFile::OpenForReading(objectPath);
        unsigned char ident[5];
        object.ReadAt(0, ident, sizeof ident);
        if (std::memcmp(ident, kMagic, sizeof kMagic) != 0) return std::nullopt;
        return ident[4];
    } catch (const LoadFailure&) {
        return std::nullopt;
    }
}

}  // namespace trenn
