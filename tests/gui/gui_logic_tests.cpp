// The window's text codec, checked against glibc's iconv, and the script file
// choice run against the scripted window.
#include <iconv.h>

#include <gtest/gtest.h>

#include "app/gui/script_choice.h"
#include "app/look/codec.h"
#include "tests/support/fake_window_services.h"
#include "text/win1251.h"

namespace tallo {
namespace {

using cp1251::operator""_cp;
using gui::FromCp1251;
using gui::ToCp1251;
using testing::FakeWindowServices;

// One byte of Windows-1251 through iconv; nullopt when iconv has no character.
std::optional<std::u16string> IconvDecode(unsigned char byte) {
    iconv_t cd = iconv_open("UTF-16LE", "CP1251");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    char in[1] = {static_cast<char>(byte)};
    char out[8] = {};
    char* inp = in;
    char* outp = out;
    size_t inleft = 1, outleft = sizeof out;
    size_t r = iconv(cd, &inp, &inleft, &outp, &outleft);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1))
        return std::nullopt;
    std::u16string s;
    for (char* p = out; p + 1 < outp; p += 2) {
        s.push_back(static_cast<char16_t>(static_cast<unsigned char>(p[0]) |
                                          (static_cast<unsigned char>(p[1]) << 8)));
    }
    return s;
}

TEST(Codec, EveryByteDecodesAsIconvDecodesIt) {
    int compared = 0;
    for (int b = 0; b < 256; ++b) {
        std::optional<std::u16string> expected = IconvDecode(static_cast<unsigned char>(b));
        QString got = FromCp1251(std::string(1, static_cast<char>(b)));
        ASSERT_EQ(got.size(), 1) << b;
        if (!expected) {
            // The one byte without a character keeps its value.
            EXPECT_EQ(b, 0x98);
            EXPECT_EQ(got[0].unicode(), 0x98);
            continue;
        }
        ASSERT_EQ(expected->size(), 1u) << b;
        EXPECT_EQ(got[0].unicode(), (*expected)[0]) << "byte " << b;
        ++compared;
    }
    EXPECT_EQ(compared, 255);
}

TEST(Codec, EveryByteSurvivesTheRoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    EXPECT_EQ(ToCp1251(FromCp1251(all)), all);
}

TEST(Codec, CharactersOutsideTheCodePageBecomeQuestionMarks) {
    EXPECT_EQ(ToCp1251(QString::fromUtf8("a\xE2\x82\xAC\xE4\xB8\xAD"
                                         "b")),
              "a\x88?b");
    EXPECT_FALSE(gui::FitsCp1251(QString::fromUtf8("\xE4\xB8\xAD")));
    EXPECT_TRUE(gui::FitsCp1251(QString::fromUtf8("Ёжик №5")));
}

TEST(Codec, AgreesWithTheUtf8ConversionOfTheFoundations) {
    const std::string text = "Перед проведением операций (BACKUP) ! Ёё Її Ґґ №"_cp;
    EXPECT_EQ(FromCp1251(text).toStdString(), cp1251::ToUtf8(text));
}

// --- Script file choice -----------------------------------------------------------

TEST(ScriptChoice, ShowsTheScriptFilterWithItsTitleAndTakesTheChosenName) {
    FakeWindowServices window;
    window.file_choices.push_back("/data/upd.sql");
    bool handled = false;
    eScriptEditButtons0Click(window, handled);
    EXPECT_TRUE(handled);
    ASSERT_EQ(window.shown_dialogs.size(), 1u);
    EXPECT_EQ(window.shown_dialogs[0].filter, "Script Files|*.?ql|All Files (*.*)|*.*");
    EXPECT_EQ(window.shown_dialogs[0].title, "Выберите скрипт для выполнения"_cp);
    EXPECT_EQ(window.shown_dialogs[0].filter_index, 1);
    EXPECT_EQ(window.Text(Field::eScript), "/data/upd.sql");
}

TEST(ScriptChoice, PreselectsScriptFilesAgainAndOffersTheLastName) {
    FakeWindowServices window;
    window.chosen_filter_index = 2;  // the operator picks "All Files"
    window.file_choices.push_back("/data/a.txt");
    window.file_choices.push_back(std::nullopt);
    bool handled = false;
    eScriptEditButtons0Click(window, handled);
    eScriptEditButtons0Click(window, handled);
    ASSERT_EQ(window.shown_dialogs.size(), 2u);
    EXPECT_EQ(window.shown_dialogs[1].filter_index, 1);
    EXPECT_EQ(window.shown_dialogs[1].file_name, "/data/a.txt");
}

TEST(ScriptChoice, CancellingKeepsTheScriptField) {
    FakeWindowServices window;
    window.SetText(Field::eScript, "/data/keep.sql");
    window.file_choices.push_back(std::nullopt);
    bool handled = false;
    eScriptEditButtons0Click(window, handled);
    EXPECT_TRUE(handled);
    EXPECT_EQ(window.Text(Field::eScript), "/data/keep.sql");
}

}  // namespace
}  // namespace tallo
