#pragma once

#include <string>

namespace trenn {

// Names in object files are byte strings, one character per byte. Bytes 0x80 to 0xFF are
// read as Windows-1252; its five unassigned bytes map to the C1 control of the same value.
char32_t Cp1252ToCodePoint(unsigned char byte);

// The byte string as UTF-8 text, byte by byte through Cp1252ToCodePoint.
std::string BytesToUtf8(const std::string& bytes);

}  // namespace trenn
