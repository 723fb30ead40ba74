// The table of input fields: one row per box, in the order of its ids, each box
// and option once, every default a number in either decimal convention.
#include "core/fields.h"
#include "core/input_texts.h"
#include "core/numtext.h"

#include <gtest/gtest.h>

#include <set>

using namespace temra;

TEST(FieldTable, OneRowPerBoxInTheOrderOfItsIds) {
    std::set<std::string> boxes, options;
    for (std::size_t i = 0; i < kFields.size(); ++i) {
        const Field& f = kFields[i];
        EXPECT_EQ(static_cast<std::size_t>(f.id), i) << f.control;
        EXPECT_TRUE(boxes.insert(std::string(f.window) + "." + std::string(f.control)).second)
            << f.window << "." << f.control;
        if (!f.option.empty() && f.option != "--gases") {
            EXPECT_TRUE(options.insert(std::string(f.option)).second) << f.option;
        }
        EXPECT_FALSE(f.label.empty()) << f.control;
        const int texts = (f.form1 != nullptr) + (f.tick != nullptr) + (f.dialog != nullptr) +
                          (f.dialog1 != nullptr);
        EXPECT_LE(texts, 1) << f.control;
        if (texts == 1) {
            EXPECT_FALSE(f.option.empty()) << f.control;
        }
    }
}

TEST(FieldTable, EveryDefaultReadsInBothDecimalConventions) {
    for (const Field& f : kFields) {
        if (f.defaultText.empty()) continue;
        const FieldRef ref = fields::Ref(f.id);
        EXPECT_EQ(ParseDouble(f.defaultText, ref, '.'), ParseDouble(f.defaultText, ref, ','))
            << f.control;
    }
}

TEST(FieldTable, TheWindowsTextsStartFromItsDefaults) {
    const Form1Texts f;
    EXPECT_EQ(f.Text1, "4.87138E-08");
    EXPECT_EQ(f.Measured(static_cast<int>(GasIndexOf("O2"))), "2.077E-5");
    EXPECT_EQ(f.Text19, "3000");
    EXPECT_FALSE(f.Check1);
    EXPECT_EQ(DialogTexts().Text24, "0.001");
    EXPECT_EQ(Dialog1Texts().Text5, "30");
    // An error names its box with the row's label and id.
    const FieldRef ref = fields::Ref(fields::Measured(static_cast<int>(GasIndexOf("Ar-40"))));
    EXPECT_EQ(ref.control, "Text3");
    EXPECT_EQ(ref.label, "Argon-40");
    EXPECT_EQ(ref.id, FieldId::Ar);
    EXPECT_THROW(fields::Measured(GasCount), TemraError);
    EXPECT_THROW(fields::Measured(-1), TemraError);
}
