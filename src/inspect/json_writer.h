#pragma once

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace trenn {

// A small streaming JSON writer (RFC 8259): commas are placed by the writer, strings escaped.
// Text goes out to a stream in pieces, so that a large document is never held in memory.
//
// Strings are byte strings. Valid UTF-8 passes through; a byte that is not part of a valid
// UTF-8 sequence is written as the escape \udcXX (XX its value), the convention by which
// programs carry such bytes through text (Python's "surrogateescape"), so that the original
// bytes can be recovered exactly and the document stays valid UTF-8.
class JsonWriter {
public:
    explicit JsonWriter(std::FILE* out) : out_(out) {}
    ~JsonWriter() { Flush(); }
    JsonWriter(const JsonWriter&) = delete;
    JsonWriter& operator=(const JsonWriter&) = delete;

    void BeginObject() { Open('{'); }
    void EndObject() { Close('}'); }
    void BeginArray() { Open('['); }
    void EndArray() { Close(']'); }
    void Key(const std::string& key) {
        String(key);
        text_ += ':';
        afterKey_ = true;
    }
    void String(const std::string& bytes) {
        Separate();
        text_ += '"';
        for (std::size_t i = 0; i < bytes.size();) {
            const auto byte = static_cast<unsigned char>(bytes[i]);
            if (byte >= 0x80) {
                const std::size_t length = Utf8SequenceLength(bytes, i);
                if (length > 0) {
                    text_.append(bytes, i, length);
                    i += length;
                } else {
                    Escape(0xDC00u | byte);
                    ++i;
                }
                continue;
            }
            switch (byte) {
                case '"': text_ += "\\\""; break;
                case '\\': text_ += "\\\\"; break;
                case '\n': text_ += "\\n"; break;
                case '\r': text_ += "\\r"; break;
                case '\t': text_ += "\\t"; break;
                case '\b': text_ += "\\b"; break;
                case '\f': text_ += "\\f"; break;
                default:
                    if (byte < 0x20) {
                        Escape(byte);
                    } else {
                        text_ += static_cast<char>(byte);
                    }
            }
            ++i;
        }
        text_ += '"';
        FlushIfLarge();
    }
    void Integer(std::int64_t value) {
        Separate();
        text_ += std::to_string(value);
        FlushIfLarge();
    }
    // The shortest decimal that reads back as the same single-precision value.
    void Single(float value) {
        Separate();
        char text[32];
        const auto result = std::to_chars(text, text + sizeof text, value);
        text_.append(text, result.ptr);
        FlushIfLarge();
    }
    // A line break after the document.
    void EndLine() { text_ += '\n'; }

    // Writes out what is held; false when the stream has failed, now or before.
    bool Flush() {
        if (!text_.empty() && std::fwrite(text_.data(), 1, text_.size(), out_) != text_.size()) {
            failed_ = true;
        }
        text_.clear();
        if (std::fflush(out_) != 0) failed_ = true;
        return !failed_;
    }

    // The length of the valid UTF-8 sequence starting at `at`, 0 when none starts there
    // (overlong forms, surrogates and values past U+10FFFF are not valid).
    static std::size_t Utf8SequenceLength(const std::string& bytes, std::size_t at) {
        const auto byte = [&](std::size_t i) {
            return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0u;
        };
        const unsigned lead = byte(at);
        const auto continuation = [&](std::size_t i) { return (byte(i) & 0xC0u) == 0x80u; };
        if (lead >= 0xC2 && lead <= 0xDF) return continuation(at + 1) ? 2 : 0;
        if (lead >= 0xE0 && lead <= 0xEF) {
            const unsigned second = byte(at + 1);
            const bool ok = continuation(at + 1) && continuation(at + 2) &&
                            !(lead == 0xE0 && second < 0xA0) && !(lead == 0xED && second >= 0xA0);
            return ok ? 3 : 0;
        }
        if (lead >= 0xF0 && lead <= 0xF4) {
            const unsigned second = byte(at + 1);
            const bool ok = continuation(at + 1) && continuation(at + 2) && continuation(at + 3) &&
                            !(lead == 0xF0 && second < 0x90) && !(lead == 0xF4 && second >= 0x90);
            return ok ? 4 : 0;
        }
        return 0;
    }

private:
    static constexpr std::size_t kFlushAt = std::size_t{1} << 16;

    void Escape(unsigned unit) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", unit);
        text_ += escaped;
    }
    void FlushIfLarge() {
        if (text_.size() >= kFlushAt) Flush();
    }
    void Separate() {
        if (afterKey_) {
            afterKey_ = false;
            return;
        }
        if (!first_.empty()) {
            if (!first_.back()) text_ += ',';
            first_.back() = false;
        }
    }
    void Open(char bracket) {
        Separate();
        text_ += bracket;
        first_.push_back(true);
    }
    void Close(char bracket) {
        text_ += bracket;
        first_.pop_back();
    }

    std::FILE* out_;
    std::string text_;
    std::vector<bool> first_;
    bool afterKey_ = false;
    bool failed_ = false;
};

}  // namespace trenn
