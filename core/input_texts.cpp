#include "core/input_texts.h"

#include <utility>

namespace temra {

Form1Texts::Form1Texts() {
    for (const Field& f : kFields)
        if (f.form1) this->*f.form1 = std::string(f.defaultText);
}

const std::string& Form1Texts::Measured(int g) const {
    return this->*FieldOf(fields::Measured(g)).form1;
}

std::string& Form1Texts::Measured(int g) {
    return this->*FieldOf(fields::Measured(g)).form1;
}

DialogTexts::DialogTexts() {
    for (const Field& f : kFields)
        if (f.dialog) this->*f.dialog = std::string(f.defaultText);
}

DialogTexts::DialogTexts(std::string min, std::string max, std::string step)
    : Text17(std::move(min)), Text23(std::move(max)), Text24(std::move(step)) {}

Dialog1Texts::Dialog1Texts() {
    for (const Field& f : kFields)
        if (f.dialog1) this->*f.dialog1 = std::string(f.defaultText);
}

Dialog1Texts::Dialog1Texts(std::string eaMin, std::string eaMax, std::string eaStep,
                           std::string tempMin, std::string tempMax, std::string tempStep)
    : Text1(std::move(eaMin)), Text2(std::move(eaMax)), Text3(std::move(eaStep)),
      Text4(std::move(tempMin)), Text5(std::move(tempMax)), Text6(std::move(tempStep)) {}

} // namespace temra
