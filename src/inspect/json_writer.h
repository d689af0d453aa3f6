#pragma once

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace trenn {

// A small streaming JSON writer (RFC 8259): commas are placed by the writer, strings escaped.
class JsonWriter {
public:
    explicit JsonWriter(std::string& out) : out_(out) {}

    void BeginObject() { Open('{'); }
    void EndObject() { Close('}'); }
    void BeginArray() { Open('['); }
    void EndArray() { Close(']'); }
    void Key(const std::string& key) {
        String(key);
        out_ += ':';
        afterKey_ = true;
    }
    void String(const std::string& utf8) {
        Separate();
        out_ += '"';
        for (const char c : utf8) {
            const auto byte = static_cast<unsigned char>(c);
            switch (c) {
                case '"': out_ += "\\\""; break;
                case '\\': out_ += "\\\\"; break;
                case '\n': out_ += "\\n"; break;
                case '\r': out_ += "\\r"; break;
                case '\t': out_ += "\\t"; break;
                case '\b': out_ += "\\b"; break;
                case '\f': out_ += "\\f"; break;
                default:
                    if (byte < 0x20) {
                        char escaped[8];
                        std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
                        out_ += escaped;
                    } else {
                        out_ += c;
                    }
            }
        }
        out_ += '"';
    }
    void Integer(std::int64_t value) {
        Separate();
        out_ += std::to_string(value);
    }
    // The shortest decimal that reads back as the same single-precision value.
    void Single(float value) {
        Separate();
        char text[32];
        const auto result = std::to_chars(text, text + sizeof text, value);
        out_.append(text, result.ptr);
    }

private:
    void Separate() {
        if (afterKey_) {
            afterKey_ = false;
            return;
        }
        if (!first_.empty()) {
            if (!first_.back()) out_ += ',';
            first_.back() = false;
        }
    }
    void Open(char bracket) {
        Separate();
        out_ += bracket;
        first_.push_back(true);
    }
    void Close(char bracket) {
        out_ += bracket;
        first_.pop_back();
    }

    std::string& out_;
    std::vector<bool> first_;
    bool afterKey_ = false;
};

}  // namespace trenn
