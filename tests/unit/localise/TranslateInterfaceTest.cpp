#include "localise/TranslateInterface.h"

#include "unit/localise/MaskedFile.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace velantro::localise {
namespace {

using namespace velantro::testing;
using Table = std::vector<TTranslation>;

/// The entry a bad line leaves when only its key was taken.
TTranslation KeyOnly(std::string key) {
    return {std::move(key), 0, u""};
}

class LoadTranslationsTest : public ::testing::Test {
protected:
    /// Loads a file whose payload is Count and text, gzip-compressed; returns
    /// the error's message, empty when the load succeeded.
    std::string LoadText(std::string_view text) {
        return LoadFile(CompressedMember(Payload(text)));
    }

    std::string LoadFile(std::string bytes) {
        const auto path = Folder / "vlintf.dat";
        WriteMasked(path, std::move(bytes));
        try {
            LoadTranslations(path.string());
        } catch (const std::runtime_error& error) {
            return error.what();
        }
        return {};
    }

    TempFolder Folder;
};

TEST_F(LoadTranslationsTest, LineGrammar) {
    struct Case {
        std::string Line;
        TTranslation Entry;
    };
    const Case cases[] = {
        {R"(MainForm.l_Translate_To;1;"Receive in:")",
         {"MainForm.l_Translate_To", 1, u"Receive in:"}},
        {"MainForm.btnSend;1;Send now", {"MainForm.btnSend", 1, u"Send"}},
        {R"(K;1;"say ""hi""; ok")", {"K", 1, u"say \"hi\"; ok"}},
        {R"(K;1;"")", {"K", 1, u""}},
        {"MainForm.l_in;1;", {"MainForm.l_in", 1, u""}},
        {" \t K ;\x01 5 ;  \"x y\"  ", {"K", 5, u"x y"}},
        {"K 6 word", {"K", 6, u"word"}},
        {R"(K;1;"a"b)", {"K", 1, u"a"}},
        {R"(K;1;"a";more;fields)", {"K", 1, u"a"}},
        {R"("Quoted.Key";2;x)", {"Quoted.Key", 2, u"x"}},
        {R"("A;B"  ;2;x)", {"A;B", 2, u"x"}},
        {R"(K;1;"no closing quote; runs on)", {"K", 1, u"no closing quote; runs on"}},
        {R"(K;1;"no ""closing"" quote)", {"K", 1, u"no \"closing\" quote"}},
        {R"(K;1;"""")", {"K", 1, u"\""}},
        {"K;$5;a", {"K", 5, u"a"}},
        {"K;0x1F;a", {"K", 31, u"a"}},
        {"K;X1f;a", {"K", 31, u"a"}},
        {"K;-7;a", {"K", -7, u"a"}},
        {"K;+3;a", {"K", 3, u"a"}},
        {"K;-$10;a", {"K", -16, u"a"}},
        {"K;-2147483648;a", {"K", INT32_MIN, u"a"}},
        {"K;$7fffffff;a", {"K", INT32_MAX, u"a"}},
        {"K;1;\xC0\xFF\xBF\xA8\xB8~", {"K", 1, u"\u0410\u044F\u00BF\u00A8\u00B8~"}},
        {"\xC0\xE0;2;x", {"\xC0\xE0", 2, u"x"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LoadText(c.Line), "") << c.Line;
        EXPECT_EQ(Translations(), Table{c.Entry}) << c.Line;
    }
}

TEST_F(LoadTranslationsTest, LineBreaksAndTheEndOfTheText) {
    const TTranslation a{"A", 1, u"a"};
    const TTranslation b{"B", 2, u"b"};
    struct Case {
        std::string Text;
        Table Entries;
    };
    const Case cases[] = {
        {"", {}},
        {"A;1;a", {a}},
        {"A;1;a\n", {a}},
        {"A;1;a\r\n", {a}},
        {"A;1;a\r", {a}},
        {"A;1;a\r\nB;2;b", {a, b}},
        {"A;1;a\rB;2;b\n", {a, b}},
        {"A;1;a\nB;2;b\r\n", {a, b}},
        {std::string("A;1;a\nB;2;b\0C;3;c", 17), {a, b}},
        {std::string("A;1;a\n\0\n\n", 9), {a}},
        {std::string("\0A;1;a", 6), {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LoadText(c.Text), "") << ::testing::PrintToString(c.Text);
        EXPECT_EQ(Translations(), c.Entries) << ::testing::PrintToString(c.Text);
    }
}

TEST_F(LoadTranslationsTest, BadLinesLeaveAPartialTable) {
    const TTranslation a{"A", 1, u"a"};
    const TTranslation empty{"", 0, u""};
    struct Case {
        std::string Text;
        std::string Error;
        Table Entries;
    };
    const Case cases[] = {
        {"A;1;a\n\nB;2;b", "LoadTranslations:List index out of bounds (0)", {a, empty, empty}},
        {"A;1;a\n \t \n", "LoadTranslations:List index out of bounds (0)", {a, empty}},
        {"A;1;a\n\n", "LoadTranslations:List index out of bounds (0)", {a, empty}},
        {"A;1;a\n\rB;2;b", "LoadTranslations:List index out of bounds (0)", {a, empty, empty}},
        {"MainForm.l_in",
         "LoadTranslations:List index out of bounds (1)",
         {KeyOnly("MainForm.l_in")}},
        {"MainForm.l_in;1",
         "LoadTranslations:List index out of bounds (2)",
         {{"MainForm.l_in", 1, u""}}},
        {"MainForm.l_in;1; ",
         "LoadTranslations:List index out of bounds (2)",
         {{"MainForm.l_in", 1, u""}}},
        {"A;1;a\nK;en;text\nB;2;b",
         "LoadTranslations:'en' is not a valid integer value",
         {a, KeyOnly("K"), empty}},
        {"K;;", "LoadTranslations:'' is not a valid integer value", {KeyOnly("K")}},
        {"K;$;x", "LoadTranslations:'$' is not a valid integer value", {KeyOnly("K")}},
        {"K;2147483648;x",
         "LoadTranslations:'2147483648' is not a valid integer value",
         {KeyOnly("K")}},
        {"K;1.5;x", "LoadTranslations:'1.5' is not a valid integer value", {KeyOnly("K")}},
        {"K;\" 1\";x", "LoadTranslations:' 1' is not a valid integer value", {KeyOnly("K")}},
        {"K;en", "LoadTranslations:'en' is not a valid integer value", {KeyOnly("K")}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LoadText(c.Text), c.Error) << ::testing::PrintToString(c.Text);
        EXPECT_EQ(Translations(), c.Entries) << ::testing::PrintToString(c.Text);
    }
}

TEST_F(LoadTranslationsTest, LimitsStopTheLoadAndKeepWhatCameBefore) {
    const TTranslation a{"A", 1, u"a"};
    const std::string first = "A;1;a\n";
    // A second line that brings the text to exactly size bytes.
    const auto textOf = [&](std::size_t size) {
        return first + "B;2;" + std::string(size - first.size() - 4, 'b');
    };
    const auto linesOf = [](std::size_t count) {
        std::string text;
        for (std::size_t i = 0; i < count; ++i) {
            text += "A;1;a\n";
        }
        return text;
    };
    const std::string tooLong = "LoadTranslations:Interface text over the limit of 16 MiB";
    const std::string tooMany = "LoadTranslations:Interface file over the limit of 65536 entries";
    struct Case {
        const char* Name;
        std::string Text;
        std::string Error;
        std::size_t Entries;
    };
    const Case cases[] = {
        {"16 MiB", textOf(MaxInterfaceTextBytes), "", 2},
        {"a byte more", textOf(MaxInterfaceTextBytes + 1), tooLong, 1},
        {"65536 lines", linesOf(MaxTranslations), "", MaxTranslations},
        {"a line more", linesOf(MaxTranslations + 1), tooMany, MaxTranslations},
        {"a line and fifty million empty ones", first + std::string(50'000'000, '\n'), tooLong,
         MaxTranslations},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LoadText(c.Text), c.Error) << c.Name;
        ASSERT_EQ(Translations().size(), c.Entries) << c.Name;
        EXPECT_EQ(Translations().front(), a) << c.Name;
    }
}

TEST_F(LoadTranslationsTest, PayloadShapes) {
    const TTranslation a{"A", 1, u"a"};
    struct Case {
        const char* Name;
        std::string File;
        Table Entries;
    };
    const std::string text = "A;1;a\nB;2;b";
    std::string badCrc = Member(Payload(text));
    badCrc[badCrc.size() - 8] ^= 1;
    const Case cases[] = {
        {"Count 0", Member(Payload("")), {}},
        {"negative Count", Member(LittleEndian32(0xFFFFFFFB) + "A;1;a"), {}},
        {"Count beyond the payload", Member(LittleEndian32(1000) + "A;1;a"), {a}},
        {"Count near INT32_MAX", Member(LittleEndian32(0x7FFFFFFF) + "A;1;a"), {a}},
        {"payload shorter than Count's 4 bytes", Member(std::string("\x05\x00", 2)), {}},
        {"bytes after the text are not read", Member(LittleEndian32(5) + "A;1;aB;2;b"), {a}},
        {"Count split across two members",
         Member(LittleEndian32(5).substr(0, 3)) + Member(LittleEndian32(5).substr(3) + "A;1;a"),
         {a}},
        {"stored file", LittleEndian32(5) + "A;1;a", {a}},
        {"empty file", "", {}},
        {"bad header", Member(Payload(text), GzHeader{}.WithFlags(0x80)), {}},
        {"CRC mismatch keeps the bytes delivered", badCrc, {a, {"B", 2, u"b"}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LoadFile(c.File), "") << c.Name;
        EXPECT_EQ(Translations(), c.Entries) << c.Name;
    }
}

TEST_F(LoadTranslationsTest, MissingFileEmptiesTheTable) {
    ASSERT_EQ(LoadText("A;1;a"), "");
    ASSERT_EQ(Translations().size(), 1u);
    EXPECT_NO_THROW(LoadTranslations((Folder / "missing.dat").string()));
    EXPECT_TRUE(Translations().empty());
    EXPECT_EQ(FindTranslation("A", 1), -1);
}

TEST_F(LoadTranslationsTest, ReloadStartsFromAnEmptyTable) {
    ASSERT_EQ(LoadText("A;1;a\nB;2;b\nC;3;c"), "");
    EXPECT_NE(LoadText("A;1;a\nB"), "");
    EXPECT_EQ(Translations(), (Table{{"A", 1, u"a"}, KeyOnly("B")}));
}

TEST_F(LoadTranslationsTest, FindTranslation) {
    ASSERT_EQ(LoadText("MainForm.btnSend;1;first\n"
                       "MainForm.btnSend;2;other\n"
                       "MainForm.btnSend;1;second\n"
                       "MainForm;1;caption\n"),
              "");
    struct Case {
        std::string Key;
        std::int32_t Lang;
        std::int32_t Index;
    };
    const Case cases[] = {
        {"MainForm.btnSend", 1, 0},
        {"MainForm.btnSend", 2, 1},
        {"MainForm.btnSend", 5, -1},
        {"mainform.btnSend", 1, -1},
        {"MainForm", 1, 3},
        {"MainForm.", 1, -1},
        {"", 0, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FindTranslation(c.Key, c.Lang), c.Index) << c.Key << " " << c.Lang;
    }
}

TEST(CyrillicToWide, OneCodeUnitPerByte) {
    struct Case {
        std::string Bytes;
        std::u16string Wide;
    };
    const Case cases[] = {
        {"", u""},
        {"Send", u"Send"},
        {"\xC0", u"\u0410"},
        {"\xFF", u"\u044F"},
        {"\xBF", u"\u00BF"},
        {"\xA8\xB8", u"\u00A8\u00B8"},
        {"\x80\x01", u"\u0080\u0001"},
        {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
        {"\xC8\xE7\xEF\xF0\xE0\xF2\xE8", u"Изпрати"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CyrillicToWide(c.Bytes), c.Wide) << ::testing::PrintToString(c.Bytes);
    }
}

// The file the build packs from data/ lies beside the test programs.
TEST(ShippedInterfaceFile, HasEveryLabelInEveryLanguage) {
    ASSERT_NO_THROW(LoadTranslations(std::string(InterfaceFileName)));
    EXPECT_EQ(Translations().size(), 64u);
    struct Case {
        const char* Key;
        const char16_t* English;
        const char16_t* Bulgarian;
    };
    const Case cases[] = {
        {"MainForm.l_Translate_To", u"Receive in:", u"Получавай на:"},
        {"MainForm.l_Send_To", u"To", u"До"},
        {"MainForm.l_in", u"in", u"на"},
        {"MainForm.btnSend", u"Send", u"Изпрати"},
        {"MainForm.SendMessage", u"Message", u"Съобщение"},
        {"MainForm.mnShowOriginal", u"Show original text", u"Показвай оригиналния текст"},
        {"MainForm.sUnread", u"Unread messages", u"Непрочетени съобщения"},
        {"MainForm.sNoUnread", u"No unread messages", u"Няма непрочетени съобщения"},
        {"MainForm.sNotContact", u"not a contact", u"не е контакт"},
        {"MainForm.sClientAttached", u"Chat client: attached as %1",
         u"Чат клиент: свързан като %1"},
        {"MainForm.sClientAttachedNoHandle", u"Chat client: attached", u"Чат клиент: свързан"},
        {"MainForm.sClientWaiting",
         u"Waiting for the chat client: start skype-peer, or your chat client, and Velantro "
         u"attaches by itself",
         u"Очаква се чат клиентът: стартирайте skype-peer или своя чат клиент и Velantro ще се "
         u"свърже сам"},
        {"MainForm.sClientNoApi", u"Chat client: its API is not available",
         u"Чат клиент: приложният му интерфейс не е достъпен"},
        {"MainForm.sTranslationLocal", u"Translation: the local program",
         u"Превод: локалната програма"},
        {"MainForm.sTranslationWeb", u"Translation: %1", u"Превод: %1"},
        {"MainForm.sTranslationDown", u"Translation: not answering since %1, messages waiting: %2",
         u"Превод: не отговаря от %1, чакащи съобщения: %2"},
    };
    for (const Case& c : cases) {
        for (const std::int32_t lang : {1, 5, 6, 2}) {
            const auto index = FindTranslation(c.Key, lang);
            ASSERT_GE(index, 0) << c.Key << " " << lang;
            EXPECT_FALSE(Translations()[index].Text.empty()) << c.Key << " " << lang;
        }
        EXPECT_EQ(Translations()[FindTranslation(c.Key, 1)].Text, c.English) << c.Key;
        EXPECT_EQ(Translations()[FindTranslation(c.Key, 2)].Text, c.Bulgarian) << c.Key;
    }
    // The caption carries the user's handle, so no entry may replace it.
    for (const std::int32_t lang : {1, 5, 6, 2}) {
        EXPECT_EQ(FindTranslation("MainForm", lang), -1);
    }
}

/// Runs a test from another working directory and goes back afterwards.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::filesystem::path& path)
        : Previous(std::filesystem::current_path()) {
        std::filesystem::current_path(path);
    }
    ~WorkingDirectory() { std::filesystem::current_path(Previous); }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

private:
    std::filesystem::path Previous;
};

TEST(LocateInterfaceFile, WorkingDirectoryThenProgramThenData) {
    struct Case {
        bool InWorking, InProgram, InData;
        const char* Expected; // "working", "program", "data" or "" for the bare name
    };
    const Case cases[] = {
        {true, true, true, "working"}, {false, true, true, "program"},
        {false, false, true, "data"},  {true, false, true, "working"},
        {false, false, false, ""},
    };
    for (const Case& c : cases) {
        TempFolder root;
        for (const char* folder : {"working", "program", "data"}) {
            std::filesystem::create_directories(root / folder);
        }
        const auto place = [&](bool present, const char* folder) {
            if (present) {
                std::ofstream(root / folder / InterfaceFileName) << "x";
            }
        };
        place(c.InWorking, "working");
        place(c.InProgram, "program");
        place(c.InData, "data");
        // A folder of that name is no file.
        if (!c.InProgram) {
            std::filesystem::create_directories(root / "program" / InterfaceFileName);
        }
        WorkingDirectory working(root / "working");
        const std::string found = LocateInterfaceFile(root / "program", root / "data");
        const std::string expected = c.Expected == std::string("working") || *c.Expected == '\0'
                                         ? std::string(InterfaceFileName)
                                         : (root / c.Expected / InterfaceFileName).string();
        EXPECT_EQ(found, expected) << c.InWorking << c.InProgram << c.InData;
    }
}

// A component tree whose setters record every assignment as
// "component=text/form" in the order they happen.
class RelabelTest : public LoadTranslationsTest {
protected:
    TComponent Node(std::string name, std::uint32_t kinds, std::vector<TComponent> owned = {}) {
        TComponent node{name, kinds, {}, {}, std::move(owned)};
        const std::string label = name.empty() ? "(unnamed)" : name;
        const auto record = [this, label](const char* what) {
            return [this, label, what](std::u16string_view text, TextForm form) {
                std::string line = label + what + "=";
                for (const char16_t unit : text) {
                    line += unit < 0x80 ? static_cast<char>(unit) : '?';
                }
                line += form == TextForm::Unicode ? "/U" : "/8";
                Assigned.push_back(line);
            };
        };
        node.SetCaption = record("");
        node.SetHint = record(".hint");
        return node;
    }

    std::vector<std::string> Assigned;
};

TEST_F(RelabelTest, PathsKindsAndOrder) {
    ASSERT_EQ(LoadText("MainForm;1;Caption\n"
                       "MainForm.l_in;1;In\n"
                       "MainForm.Tnt;1;Wide\n"
                       "MainForm.Speed;1;Tip\n"
                       "MainForm.Button;1;Push\n"
                       "MainForm.PageControl1.;1;Tab\n"
                       "MainForm.PageControl1..Memo;1;Never\n"
                       "Loose;1;Bare\n"
                       "mainform.l_in;1;Wrong case\n"
                       "MainForm.l_in;2;Other language\n"),
              "");
    TComponent application =
        Node("", 0,
             {
                 Node("MainForm", ckForm,
                      {
                          Node("l_in", ckLabel),
                          Node("Tnt", ckLabel | ckTntLabel),
                          Node("Speed", ckSpeedButton | ckTntSpeedButton | ckButton),
                          Node("Button", ckButton | ckTntButton),
                          Node("PageControl1", 0,
                               {Node("", ckTabSheet, {Node("Memo", 0)}),
                                Node("", ckTabSheet | ckTntTabSheet)}),
                      }),
                 // A window without a name: its components are keyed by their bare names.
                 Node("", ckForm, {Node("Loose", ckLabel)}),
             });
    ApplyLanguage(application, 1);
    EXPECT_EQ(Assigned, (std::vector<std::string>{
                            "MainForm=Caption/8",
                            "l_in=In/8",
                            "Tnt=Wide/8",
                            "Tnt=Wide/U",
                            "Speed.hint=Tip/8",
                            "Speed.hint=Tip/U",
                            "Button=Push/8",
                            "Button=Push/U",
                            "(unnamed)=Tab/8",
                            "(unnamed)=Tab/8",
                            "(unnamed)=Tab/U",
                            "Loose=Bare/8",
                        }));
    Assigned.clear();
    ApplyLanguage(application, 6);
    EXPECT_TRUE(Assigned.empty());
}

} // namespace
} // namespace velantro::localise
