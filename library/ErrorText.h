// ErrorText: CErrorText, the message text that a failing library constructor throws.
#pragma once

#include <string>
#include <utility>

namespace qorcam::library {

/// Thrown by library constructors (producer, interface, camera) that fail;
/// the code that creates them catches it, writes the text as a trace line and
/// skips that object. Anything else thrown is reported as "Other Error".
class CErrorText {
public:
    explicit CErrorText(std::string text) : text_(std::move(text)) {}
    const char* Text() const { return text_.c_str(); }

private:
    std::string text_;
};

} // namespace qorcam::library
