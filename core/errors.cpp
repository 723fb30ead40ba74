#include "core/errors.h"

namespace temra {

const char* ErrorDescription(ErrorNumber number) {
    switch (number) {
    case ErrorNumber::InvalidCall:
        return "Invalid procedure call or argument";
    case ErrorNumber::Overflow:
        return "Overflow";
    case ErrorNumber::OutOfMemory:
        return "Out of memory";
    case ErrorNumber::SubscriptRange:
        return "Subscript out of range";
    case ErrorNumber::DivisionByZero:
        return "Division by zero";
    case ErrorNumber::TypeMismatch:
        return "Type mismatch";
    }
    return "Application-defined or object-defined error";
}

namespace {
std::string Compose(ErrorNumber number, const FieldRef& field, const std::string& detail) {
    std::string text = "Run-time error '" + std::to_string(static_cast<int>(number)) +
                       "': " + ErrorDescription(number);
    if (!field.label.empty() || !field.control.empty()) {
        text += " (";
        text += field.label.empty() ? field.control : field.label;
        text += ")";
    }
    if (!detail.empty()) text += ": " + detail;
    return text;
}
} // namespace

TemraError::TemraError(ErrorNumber number, FieldRef field, std::string detail)
    : Refusal(Compose(number, field, detail), Culprit{.field = field}), number_(number),
      field_(std::move(field)), detail_(std::move(detail)) {}

} // namespace temra
