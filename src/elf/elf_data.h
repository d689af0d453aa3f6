#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "runtime/bool16.h"

namespace trenn {

class ScratchFile;

// One symbol defined in a PROGBITS section. `name` holds one character per byte of the ELF
// name (at most kStoredNameLength of them: nothing uses more); `value` is st_value as read.
struct SymbolEntry {
    std::string name;
    std::int32_t value = 0;
};

// Names are kept to the characters the program can show (a list text ends at character 119).
inline constexpr std::size_t kStoredNameLength = 120;

// mdlElfData's module state.
extern std::string g_errorText;
// No storage until a symbol table has been read (nullopt); then at least one entry.
extern std::optional<std::vector<SymbolEntry>> g_symbols;
// Why the last LoadElfObject returned false, for diagnostics; empty after a success.
extern std::string g_loadFailureDetail;

inline constexpr const char* kMagicFailureText = "Magic does not match! This is not an ELF file!";

// Deletes whatever stands at the scratch path, checks the magic, copies the PROGBITS sections
// into a new scratch file there and builds g_symbols. Returns kTrue on success, kFalse on any
// failure (g_errorText set only for a bad magic). The scratch file stays on disk.
Bool16 LoadElfObject(const std::string& objectPath, const std::string& scratchPath);
// The same into a scratch file this process made (deleting nothing), or makes it at the first
// section that writes when it is not open yet. Notes where the copied data ends.
Bool16 LoadElfObject(const std::string& objectPath, ScratchFile& scratch);

// The class byte (e_ident[4]) of an ELF file: 1 for 32-bit, 2 for 64-bit objects. Nothing
// when the file cannot be read or does not start with the ELF magic.
std::optional<std::uint8_t> ElfClassByte(const std::string& objectPath);

inline constexpr const char* kElf64Detail = "64-bit ELF objects are not supported (class byte 2)";

}  // namespace trenn
