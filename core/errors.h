// Run-time errors of the calculation core, and the base of every refusal Temra
// makes.
//
// Every fault a computation can meet (a text that is not a number, a division by
// zero, an overflow, an index outside its range, a request for more memory than
// the machine has, an argument outside its domain) is raised as one TemraError.
// It carries Temra's run-time error number and its description, plus the input
// field concerned, so a window can name the box at fault and a command-line tool
// can name the option.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>

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

// What a refusal names for the user to change: an input box, an option of
// temra-cli (or its box in a window), a file, a row and column of a table (from
// 1). An empty part names nothing.
struct Culprit {
    FieldRef field = {};
    std::string option = {}; // "pr-r-max", "--xlsx"
    std::string file = {};
    std::size_t row = 0, column = 0;
    std::string columnName = {}; // the column's name, where the table's header gives one
};

// A culprit that names an option alone, or a file alone (each set on a default
// culprit, which GCC 12 at -O3 does not mistake for one left partly unset).
inline Culprit OptionCulprit(std::string option) {
    Culprit c;
    c.option = std::move(option);
    return c;
}
inline Culprit FileCulprit(std::string file) {
    Culprit c;
    c.file = std::move(file);
    return c;
}

// The base of every refusal Temra makes (a box that cannot be read, a table that
// is not one, an option out of range, a workbook that cannot be written): its
// message, and what it names. temra-cli and the windows catch this one type and
// say the message, naming what to change.
class Refusal : public std::runtime_error {
  public:
    explicit Refusal(const std::string& what, Culprit culprit = {})
        : std::runtime_error(what), culprit_(std::move(culprit)) {}
    const Culprit& culprit() const { return culprit_; }

  private:
    Culprit culprit_;
};

class TemraError : public Refusal {
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
