#include "core/input_texts.h"

#include <map>

namespace temra {

const std::string& Form1Texts::Measured(int g) const {
    switch (g) {
    case 1:
        return Text1;
    case 2:
        return Text2;
    case 3:
        return Text3;
    case 4:
        return Text4;
    case 5:
        return Text5;
    case 6:
        return Text6;
    case 7:
        return Text7;
    }
    throw TemraError(ErrorNumber::SubscriptRange, fields::Form1("Text" + std::to_string(g)),
                     "there is no gas " + std::to_string(g));
}

std::string& Form1Texts::Measured(int g) {
    return const_cast<std::string&>(static_cast<const Form1Texts&>(*this).Measured(g));
}

namespace fields {

namespace {
FieldRef Lookup(const std::string& window, const std::map<std::string, std::string>& labels,
                const std::string& control) {
    auto it = labels.find(control);
    return {window, control, it == labels.end() ? control : it->second};
}
} // namespace

FieldRef Form1(const std::string& control) {
    static const std::map<std::string, std::string> labels = {
        {"Text1", "Helium-4"},
        {"Text2", "Neon-20"},
        {"Text3", "Argon-40"},
        {"Text4", "Krypton-84"},
        {"Text5", "Xenon-total"},
        {"Text6", "N-28"},
        {"Text7", "O-32"},
        {"Text14", "Density of water (g/cm³)"},
        {"Text15", "Chloride concentration (moles/l)"},
        {"Text18", "Equilibrium Elevation Range (m) Min"},
        {"Text19", "Equilibrium Elevation Range (m) Max"},
        {"Text25", "Equilibrium Elevation Range (m) Step"},
        {"Text21", "Equilibrium Temperature Range (°C) Max"},
        {"Text26", "Equilibrium Temperature Range (°C) Step"},
        {"Text20", "MAAT equation a"},
        {"Text22", "MAAT equation b"},
    };
    return Lookup("Form1", labels, control);
}

FieldRef Dialog(const std::string& control) {
    static const std::map<std::string, std::string> labels = {
        {"Text17", "Excess Air Min"}, {"Text23", "Excess Air Max"}, {"Text24", "Excess Air Step"}};
    return Lookup("Dialog", labels, control);
}

FieldRef Dialog1(const std::string& control) {
    static const std::map<std::string, std::string> labels = {
        {"Text1", "Excess Air Min"},  {"Text2", "Excess Air Max"},  {"Text3", "Excess Air Step"},
        {"Text4", "Temperature Min"}, {"Text5", "Temperature Max"}, {"Text6", "Temperature Step"}};
    return Lookup("Dialog1", labels, control);
}

FieldRef Form2Selection() {
    return {"Form2", "Check1", "Select Gas Pair for Graph"};
}
FieldRef SolGraphSelection() {
    return {"SolGraphForm", "Check1", "Tick to Delete Gas"};
}
FieldRef Grid() {
    return {"Form1", "Command1", "Calculate Solubility"};
}

} // namespace fields
} // namespace temra
