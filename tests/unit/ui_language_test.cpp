// The language rule: Russian texts exactly when the primary language of the user's default UI
// language id (its low 10 bits) is Russian, 0x19; the sublanguage in the upper 6 bits is ignored.
#include <gtest/gtest.h>

#include "text/ui_language.h"

TEST(UiLanguage, RussianOfRussiaAndMoldovaGiveRussian) {
    EXPECT_TRUE(IsRussianUiLanguage(0x0419));
    EXPECT_TRUE(IsRussianUiLanguage(0x0819));
}

TEST(UiLanguage, EverySublanguageOfRussianGivesRussian) {
    EXPECT_TRUE(IsRussianUiLanguage(0x0019)); // neutral sublanguage
    EXPECT_TRUE(IsRussianUiLanguage(0xFC19)); // largest sublanguage, 0x3F
    for (unsigned sublanguage = 0; sublanguage < 64; ++sublanguage) {
        unsigned short id = static_cast<unsigned short>((sublanguage << 10) | 0x19);
        EXPECT_TRUE(IsRussianUiLanguage(id)) << "id 0x" << std::hex << id;
    }
}

TEST(UiLanguage, OtherLanguagesGiveEnglish) {
    EXPECT_FALSE(IsRussianUiLanguage(0x0409)); // English, United States
    EXPECT_FALSE(IsRussianUiLanguage(0x0809)); // English, United Kingdom
    EXPECT_FALSE(IsRussianUiLanguage(0x0422)); // Ukrainian
    EXPECT_FALSE(IsRussianUiLanguage(0x0423)); // Belarusian
    EXPECT_FALSE(IsRussianUiLanguage(0x0000)); // neutral
    EXPECT_FALSE(IsRussianUiLanguage(0x0400)); // process default
    EXPECT_FALSE(IsRussianUiLanguage(0x0800)); // system default
    EXPECT_FALSE(IsRussianUiLanguage(0xFFFF));
}

TEST(UiLanguage, PrimaryLanguagesSharingBitsWithRussianGiveEnglish) {
    // Primary languages that share some of the bits of 0x19 or contain all of them, and ids that
    // hold 0x19 outside the low 10 bits, where a wrong mask or shift would find it.
    for (unsigned short id :
         {0x0119, 0x0219, 0x0319, 0x0039, 0x0059, 0x0099, 0x001B, 0x001D, 0x0018, 0x0011, 0x0009,
          0x0001, 0x03FF, 0x0619, 0xFD19, 0x6400, 0x1900, 0x0190}) {
        EXPECT_FALSE(IsRussianUiLanguage(id)) << "id 0x" << std::hex << id;
    }
}

TEST(UiLanguage, EveryPrimaryLanguageOtherThanRussianGivesEnglish) {
    for (unsigned primary = 0; primary < 0x400; ++primary) {
        if (primary == 0x19) {
            continue;
        }
        for (unsigned sublanguage : {0u, 1u, 2u, 0x3Fu}) {
            unsigned short id = static_cast<unsigned short>((sublanguage << 10) | primary);
            EXPECT_FALSE(IsRussianUiLanguage(id)) << "id 0x" << std::hex << id;
        }
    }
}
