// The one error type of the program: a command stops and its message is shown.
#pragma once

#include <stdexcept>
#include <string>

namespace morph {

class MorphError : public std::runtime_error {
  public:
    explicit MorphError(const std::string& message) : std::runtime_error(message) {}
    std::string message() const { return what(); }
};

// Texts of the arithmetic faults, as the user sees them.
inline constexpr const char* kInvalidOperation = "Invalid floating point operation";
inline constexpr const char* kFloatDivideByZero = "Floating point division by zero";
inline constexpr const char* kFloatOverflow = "Floating point overflow";
inline constexpr const char* kIntDivideByZero = "Division by zero";

// Messages shown to the user end with a full stop unless their last character sorts
// before '.' (so "Done!" and " Line! " stay as they are, "value" becomes "value.").
std::string WithFullStop(const std::string& message);

} // namespace morph
