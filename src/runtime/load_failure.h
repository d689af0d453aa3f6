#pragma once

#include <stdexcept>
#include <string>

namespace trenn {

// The one exception type of loading. It travels from the point of failure up to the
// procedure that owns the failure path (LoadElfObject, Main). The text is a plain
// diagnosis for people and tools; the message boxes never show it.
class LoadFailure : public std::runtime_error {
public:
    explicit LoadFailure(const std::string& detail) : std::runtime_error(detail) {}
};

[[noreturn]] inline void Fail(const std::string& detail) { throw LoadFailure(detail); }

}  // namespace trenn
