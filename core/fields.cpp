#include "core/fields.h"

#include "core/input_texts.h"

namespace temra {

namespace {

using F1 = Form1Texts;
using D = DialogTexts;
using D1 = Dialog1Texts;
constexpr std::string_view kConc = "cm³ STP/cm³ H2O";
constexpr std::string_view kEa = "cm³ STP/g H2O";

} // namespace

// clang-format off
const std::array<Field, kFieldCount> kFields = {{
    {.id = FieldId::He, .window = "Form1", .control = "Text1", .label = kGases[GasIndexOf("He-4")].inputLabel, .unit = kConc,
     .defaultText = "4.87138E-08", .option = "--he", .help = "Measured He-4 (cm³ STP/cm³ H2O)", .form1 = &F1::Text1},
    {.id = FieldId::Ne, .window = "Form1", .control = "Text2", .label = kGases[GasIndexOf("Ne-20")].inputLabel, .unit = kConc,
     .defaultText = "1.99793E-07", .option = "--ne", .help = "Measured Ne-20", .form1 = &F1::Text2},
    {.id = FieldId::Ar, .window = "Form1", .control = "Text3", .label = kGases[GasIndexOf("Ar-40")].inputLabel, .unit = kConc,
     .defaultText = "4.78E-04", .option = "--ar", .help = "Measured Ar-40", .form1 = &F1::Text3},
    {.id = FieldId::Kr, .window = "Form1", .control = "Text4", .label = kGases[GasIndexOf("Kr-84")].inputLabel, .unit = kConc,
     .defaultText = "7.73522E-08", .option = "--kr", .help = "Measured Kr-84", .form1 = &F1::Text4},
    {.id = FieldId::Xe, .window = "Form1", .control = "Text5", .label = kGases[GasIndexOf("Xe")].inputLabel, .unit = kConc,
     .defaultText = "1.595E-08", .option = "--xe", .help = "Measured Xe (all isotopes)", .form1 = &F1::Text5},
    {.id = FieldId::N2, .window = "Form1", .control = "Text6", .label = kGases[GasIndexOf("N2")].inputLabel, .unit = kConc,
     .defaultText = "1.66E-02", .option = "--n2", .help = "Measured N2 (N-28)", .form1 = &F1::Text6},
    {.id = FieldId::O2, .window = "Form1", .control = "Text7", .label = kGases[GasIndexOf("O2")].inputLabel, .unit = kConc,
     .defaultText = "2.077E-5", .option = "--o2", .help = "Measured O2 (O-32)", .form1 = &F1::Text7},
    {.id = FieldId::Density, .window = "Form1", .control = "Text14", .label = "Density of water  (g/cm³)",
     .unit = "g/cm³", .defaultText = "1", .option = "--density", .help = "Density of water (g/cm³)",
     .form1 = &F1::Text14},
    {.id = FieldId::Chloride, .window = "Form1", .control = "Text15",
     .label = "Chloride concentration (moles/l)", .unit = "mol/l", .defaultText = "0",
     .option = "--chloride", .help = "Chloride concentration (moles/l)", .form1 = &F1::Text15},
    {.id = FieldId::ElevMin, .window = "Form1", .control = "Text18",
     .label = "Equilibrium Elevation Range (m) Min", .unit = "m", .defaultText = "1000",
     .option = "--elev-min", .help = "Sampling elevation (m); accepted but not used", .form1 = &F1::Text18},
    {.id = FieldId::ElevMax, .window = "Form1", .control = "Text19",
     .label = "Equilibrium Elevation Range (m) Max", .unit = "m", .defaultText = "3000",
     .option = "--elev-max", .help = "Highest equilibrium elevation (m)", .form1 = &F1::Text19},
    {.id = FieldId::ElevStep, .window = "Form1", .control = "Text25",
     .label = "Equilibrium Elevation Range (m) Step", .unit = "m", .defaultText = "100",
     .option = "--elev-step", .help = "Elevation step (m)", .form1 = &F1::Text25},
    {.id = FieldId::TempMax, .window = "Form1", .control = "Text21",
     .label = "Equilibrium Temperature Range (°C) Max", .unit = "°C", .defaultText = "10",
     .option = "--temp-max", .help = "Highest equilibrium temperature (°C)", .form1 = &F1::Text21},
    {.id = FieldId::TempStep, .window = "Form1", .control = "Text26",
     .label = "Equilibrium Temperature Range (°C) Step", .unit = "°C", .defaultText = "1",
     .option = "--temp-step", .help = "Temperature step (°C)", .form1 = &F1::Text26},
    {.id = FieldId::MaatA, .window = "Form1", .control = "Text20", .label = "MAAT equation a",
     .unit = "m/°C", .defaultText = "-108", .option = "--maat-a", .help = "a of H = aT + b (m/°C)",
     .form1 = &F1::Text20},
    {.id = FieldId::MaatB, .window = "Form1", .control = "Text22", .label = "MAAT equation b",
     .unit = "m", .defaultText = "2289", .option = "--maat-b", .help = "b of H = aT + b (m)",
     .form1 = &F1::Text22},
    {.id = FieldId::MaatTick, .window = "Form1", .control = "Check1", .label = "Tick to use MAAT equation",
     .option = "--maat",
     .help = "Limit each elevation to ±3 °C around the mean annual air temperature of H = aT + b",
     .tick = &F1::Check1},
    {.id = FieldId::Calculate, .window = "Form1", .control = "Command1", .label = "Calculate Solubility"},
    {.id = FieldId::GasSelection, .window = "SolGraphForm", .control = "Check1", .label = "Tick to Delete Gas",
     .option = "--gases"},
    {.id = FieldId::EaMin, .window = "Dialog", .control = "Text17", .label = "Excess Air Min", .unit = kEa,
     .defaultText = "0.001", .option = "--ea-min", .help = "Lowest trial excess air (cm³ STP/g H2O)",
     .dialog = &D::Text17},
    {.id = FieldId::EaMax, .window = "Dialog", .control = "Text23", .label = "Excess Air Max", .unit = kEa,
     .defaultText = "0.05", .option = "--ea-max", .help = "Highest trial excess air", .dialog = &D::Text23},
    {.id = FieldId::EaStep, .window = "Dialog", .control = "Text24", .label = "Excess Air Step", .unit = kEa,
     .defaultText = "0.001", .option = "--ea-step", .help = "Step of the trial excess air", .dialog = &D::Text24},
    {.id = FieldId::PairSelection, .window = "Form2", .control = "Check1", .label = "Select Gas Pair for Graph",
     .option = "--gases"},
    {.id = FieldId::PairEaMin, .window = "Dialog1", .control = "Text1", .label = "Excess Air Min", .unit = kEa,
     .defaultText = "0", .option = "--pair-ea-min", .help = "Lowest excess air", .dialog1 = &D1::Text1},
    {.id = FieldId::PairEaMax, .window = "Dialog1", .control = "Text2", .label = "Excess Air Max", .unit = kEa,
     .defaultText = "0.05", .option = "--pair-ea-max", .help = "Highest excess air", .dialog1 = &D1::Text2},
    {.id = FieldId::PairEaStep, .window = "Dialog1", .control = "Text3", .label = "Excess Air Step", .unit = kEa,
     .defaultText = "0.01", .option = "--pair-ea-step", .help = "Excess-air step", .dialog1 = &D1::Text3},
    {.id = FieldId::PairTempMin, .window = "Dialog1", .control = "Text4", .label = "Temperature Min", .unit = "°C",
     .defaultText = "0", .option = "--pair-temp-min", .help = "Lowest temperature (°C)", .dialog1 = &D1::Text4},
    {.id = FieldId::PairTempMax, .window = "Dialog1", .control = "Text5", .label = "Temperature Max", .unit = "°C",
     .defaultText = "30", .option = "--pair-temp-max", .help = "Highest temperature (°C)", .dialog1 = &D1::Text5},
    {.id = FieldId::PairTempStep, .window = "Dialog1", .control = "Text6", .label = "Temperature Step", .unit = "°C",
     .defaultText = "5", .option = "--pair-temp-step", .help = "Temperature step (°C)", .dialog1 = &D1::Text6},
}};
// clang-format on

const Field& FieldOf(FieldId id) {
    return kFields.at(static_cast<std::size_t>(id));
}

namespace fields {

FieldId Measured(int gas) {
    if (gas < 0 || gas >= GasCount)
        throw TemraError(ErrorNumber::SubscriptRange, Ref(FieldId::Calculate),
                         "there is no gas of index " + std::to_string(gas));
    return static_cast<FieldId>(static_cast<int>(FieldId::He) + gas);
}

FieldRef Ref(FieldId id) {
    const Field& f = FieldOf(id);
    return {std::string(f.window), std::string(f.control), std::string(f.label), id};
}

} // namespace fields
} // namespace temra
