// Run-time errors of the calculation core.
//
// Every fault a computation can meet (a text that is not a number, a division by
// zero, an overflow, an index outside its range, a request for more memory than
// the machine has, an argument outside its domain) is raised as one TemraError.
// It carries Temra's run-time error number and its description, plus the input
// field concerned, so a window can name the box at fault and a command-line tool
// can name the option.
#pragma once

#include <stdexcept>
#include <string>

namespace temra {

enum class ErrorNumber : int {
    InvalidCall = 5,    // "Invalid procedure call or argument"
    Overflow = 6,       // "Overflow"
    OutOfMemory = 7,    // "Out of memory"
    SubscriptRange = 9, // "Subscript out of range"
    DivisionByZero = 11,
    TypeMismatch = 13,
};

// The description of an error number.
const char* ErrorDescription(ErrorNumber number);

enum class FieldId : int; // the table of input fields (core/fields.h)
inline constexpr FieldId kNoField = static_cast<FieldId>(-1);

// Names an input box: the window it sits on, the control name, and what the user
// reads beside it; `id` is its row of the table of input fields, when it has one.
struct FieldRef {
    std::string window;  // "Form1", "Dialog", "Dialog1", "Form2", "SolGraphForm"
    std::string control; // "Text19", "Check1", ...
    std::string label;   // "Equilibrium Elevation Range (m) Max"
    FieldId id = kNoField;
};

class TemraError : public std::runtime_error {
  public:
    TemraError(ErrorNumber number, FieldRef field, std::string detail = {});

    ErrorNumber number() const { return number_; }
    int code() const { return static_cast<int>(number_); }
    const char* description() const { return ErrorDescription(number_); }
    const FieldRef& field() const { return field_; }
    // A sentence that explains the fault in the user's terms; may be empty.
    const std::string& detail() const { return detail_; }

  private:
    ErrorNumber number_;
    FieldRef field_;
    std::string detail_;
};

} // namespace temra
