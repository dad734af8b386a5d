#include "app/convert/SettingsFile.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

namespace
{

using TType = TSettingsValue::TType;

const TDateTime kNow = EncodeDateTime(2025, 6, 7, 8, 9, 10);

// The file as the window's QSettings (Qt 6.4) writes it for these values:
//   apptitle   " Title; with, \"quotes\" = back\\slash\ttab\nline "
//   author     "Zoë Müller – 日本 😀"
//   subject    "@at start"
//   keywords   "ctrl\x01abc\x7f\x1f"
//   createtime 2 January 2024 13:30, modifytime 31 December 2023 23:59:59
//   creator    "Pictova = great", procedure "", positions "85"
const char* const kQtWritten =
    "[General]\n"
    "apptitle=\" Title; with, \\\"quotes\\\" = "
    "back\\\\slash\\ttab\\nline \"\n"
    "author=Zo\xC3\xAB M\xC3\xBCller \xE2\x80\x93 \xE6\x97\xA5\xE6\x9C\xAC "
    "\xF0\x9F\x98\x80\n"
    "createtime=@ByteArray(\\0\\0\\0\\0\\xb2\\x1d\\xe6@)\n"
    "creator=\"Pictova = great\"\n"
    "keywords=ctrl\\x1\\x61\\x62\\x63\x7f\\x1f\n"
    "modifytime=@ByteArray(7\\xba\\xe7\\xff\\x7f\\x1d\\xe6@)\n"
    "positions=85\n"
    "procedure=\n"
    "subject=@@at start\n";

TSavedSettings Load(const std::string& text)
{
    TSavedSettings settings;
    LoadSavedSettings(ParseSettingsText(text), kNow, settings);
    return settings;
}

std::string DoubleBytes(double value)
{
    std::string bytes(8, '\0');
    std::memcpy(bytes.data(), &value, 8); // the machine is little-endian, as the file is
    return bytes;
}

// "@ByteArray(...)" with every byte as \xHH, as a hand-written file may have it.
std::string ByteArrayLine(const std::string& key, const std::string& bytes)
{
    std::string line = key + "=@ByteArray(";
    char hex[8];
    for (const char byte : bytes)
    {
        std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(byte));
        line += hex;
    }
    return line + ")\n";
}

} // namespace

TEST(SettingsFileTest, AFileTheWindowWroteLoadsItsNineValues)
{
    const TSavedSettings s = Load(kQtWritten);
    EXPECT_EQ(s.Title, " Title; with, \"quotes\" = back\\slash\ttab\nline ");
    EXPECT_EQ(s.Author, "Zo\xC3\xAB M\xC3\xBCller \xE2\x80\x93 \xE6\x97\xA5\xE6\x9C\xAC "
                        "\xF0\x9F\x98\x80");
    EXPECT_EQ(s.Subject, "@at start");
    EXPECT_EQ(s.Keywords, "ctrl\x01"
                          "abc\x7f\x1f");
    // The whole part counts the days from 30 December 1899, the fraction 13:30 is 0.5625.
    EXPECT_EQ(s.Created, 45293.5625);
    EXPECT_EQ(s.Created, EncodeDateTime(2024, 1, 2, 13, 30));
    EXPECT_EQ(DoubleBytes(s.Modified), "7\xba\xe7\xff\x7f\x1d\xe6@");
    EXPECT_EQ(s.Creator, "Pictova = great");
    EXPECT_EQ(s.Producer, ""); // present and empty: not the default
    EXPECT_EQ(s.Quality, 85);
}

TEST(SettingsFileTest, MissingValuesKeepWhatTheRulesSay)
{
    TSavedSettings s;
    s.Title = "old title";
    s.Creator = "my creator";
    s.Producer = "my producer";
    s.Quality = 33;
    LoadSavedSettings(ParseSettingsText("[General]\nauthor=A\n"), kNow, s);
    EXPECT_EQ(s.Title, ""); // missing text: empty
    EXPECT_EQ(s.Author, "A");
    EXPECT_EQ(s.Creator, "my creator"); // missing "creator": unchanged
    EXPECT_EQ(s.Producer, "my producer");
    EXPECT_EQ(s.Created, kNow);
    EXPECT_EQ(s.Modified, kNow);
    EXPECT_EQ(s.Quality, 60);
    // An empty variant reads as missing.
    s.Creator = "kept";
    LoadSavedSettings(ParseSettingsText("creator=@Invalid()\napptitle=@Invalid()\n"), kNow, s);
    EXPECT_EQ(s.Creator, "kept");
    EXPECT_EQ(s.Title, "");
}

TEST(SettingsFileTest, QualityIsReadWithDefault60AndClamped)
{
    const std::pair<const char*, int> cases[] = {{"150", 100},
                                                 {"abc", 60},
                                                 {"0", 1},
                                                 {"-5", 1},
                                                 {" 42 ", 42},
                                                 {"+7", 7},
                                                 {"100", 100},
                                                 {"1", 1},
                                                 {"", 60},
                                                 {"4 2", 60},
                                                 {"0x10", 60},
                                                 {"--1", 60},
                                                 {"42abc", 60},
                                                 {"2147483647", 100},
                                                 {"99999999999", 60},
                                                 {"-2147483648", 1}};
    for (const auto& [text, quality] : cases)
        EXPECT_EQ(QualityFromText(text), quality) << text;
    EXPECT_EQ(Load("positions=150\n").Quality, 100);
    EXPECT_EQ(Load("positions=abc\n").Quality, 60);
    EXPECT_EQ(Load("positions=\" 7\"\n").Quality, 7);
}

TEST(SettingsFileTest, ABadDateTimeGivesNow)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    const std::string good = DoubleBytes(EncodeDateTime(1999, 12, 31, 23, 59, 59));
    EXPECT_EQ(Load(ByteArrayLine("createtime", good)).Created,
              EncodeDateTime(1999, 12, 31, 23, 59, 59));
    EXPECT_EQ(Load(ByteArrayLine("createtime", DoubleBytes(EncodeDateTime(1, 1, 1)))).Created,
              EncodeDateTime(1, 1, 1));
    for (const std::string& line :
         {ByteArrayLine("createtime", good.substr(0, 7)), ByteArrayLine("createtime", good + "x"),
          ByteArrayLine("createtime", ""), ByteArrayLine("createtime", DoubleBytes(nan)),
          ByteArrayLine("createtime", DoubleBytes(infinity)),
          ByteArrayLine("createtime", DoubleBytes(2958466.0)), // 1 January 10000
          ByteArrayLine("createtime", DoubleBytes(-700000.0)), std::string("createtime=45293.5\n"),
          std::string("createtime=@Invalid()\n"), std::string("createtime=a, b\n")})
    {
        const TSavedSettings s = Load(line + ByteArrayLine("modifytime", good));
        EXPECT_EQ(s.Created, kNow) << line;
        EXPECT_EQ(s.Modified, EncodeDateTime(1999, 12, 31, 23, 59, 59)) << line;
    }
}

TEST(SettingsFileTest, ATextStoredAsAnotherTypeIsRefusedByName)
{
    const auto message = [](const std::string& text) -> std::string {
        try
        {
            Load(text);
        }
        catch (const ESettingsError& e)
        {
            return e.what();
        }
        return "(loaded)";
    };
    EXPECT_EQ(message("apptitle=@ByteArray(abc)\n"),
              "the value \"apptitle\" holds a byte array, not a text");
    EXPECT_EQ(message("procedure=a, b\n"), "the value \"procedure\" holds a list, not a text");
    EXPECT_EQ(message("positions=@Rect(1 2 3 4)\n"),
              "the value \"positions\" holds a value of type Rect, not a text");
    EXPECT_EQ(message("keywords=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\0\\x1)\n"),
              "the value \"keywords\" holds a value of type Variant, not a text");
    // Quoted commas and a malformed geometry are plain texts.
    EXPECT_EQ(message("procedure=\"a, b\"\nauthor=@Rect(1 2)\n"), "(loaded)");

    // Loading stops at the value, in the window's order: the texts before it are loaded.
    TSavedSettings s;
    EXPECT_THROW(
        LoadSavedSettings(ParseSettingsText("apptitle=T\nauthor=A\nsubject=x,y\n"), kNow, s),
        ESettingsError);
    EXPECT_EQ(s.Title, "T");
    EXPECT_EQ(s.Author, "A");
}

TEST(SettingsFileTest, IniSyntaxReadsAsQtReadsIt)
{
    const TSettingsValues values = ParseSettingsText("\xEF\xBB\xBF; a comment line\r\n"
                                                     "before=top level\r\n"
                                                     "[other]\n"
                                                     "apptitle=in a group\n"
                                                     "[ GENERAL ]\n"
                                                     "  spaced key  =   spaced value  \t\n"
                                                     "semi=a;b\n"
                                                     "quoted=\"a;b\" tail \n"
                                                     "joined=ab\"cd\"ef\n"
                                                     "esc=\\x41\\x4142\\101\\0\\q\\?\\'\\a\\x\n"
                                                     "cont=abc\\\n   def\n"
                                                     "multi=\"line1\nline2\"\n"
                                                     "list=a,\n"
                                                     "kept=x\\x20 \n"
                                                     "app%74itle=escaped key\n"
                                                     "k%3Dx%U00e9=odd key\n"
                                                     "grp\\sub=in a group\n"
                                                     "dup=first\n"
                                                     "dup=second\n"
                                                     "Dup=upper\n"
                                                     "at=@foo\n"
                                                     "atat=@@\n"
                                                     "str=@String(x)\n"
                                                     "nobrace=@ByteArray(abc\n"
                                                     "ba=@ByteArray(\\x100\\xe9\xC3\xA9\\0\\x31)\n"
                                                     "badutf=a\xC3[b\xFF\n"
                                                     "novalue\n"
                                                     "[%General]\n"
                                                     "subject=in the group General\n");
    const auto text = [&](const std::string& key) {
        const auto found = values.find(key);
        if (found == values.end())
            return std::string("(missing)");
        return (found->second.Type == TType::Text ? "" : "(not text) ") + found->second.Data;
    };
    EXPECT_EQ(text("before"), "top level");
    EXPECT_EQ(text("apptitle"), "escaped key"); // not the one in [other]
    EXPECT_EQ(text("spaced key"), "spaced value");
    EXPECT_EQ(text("semi"), "a"); // an unquoted ';' starts a comment
    EXPECT_EQ(text("quoted"), "a;btail ");
    EXPECT_EQ(text("joined"), "abcdef");
    EXPECT_EQ(text("esc"), std::string("A\xE4\x85\x82"
                                       "A") +
                               '\0' + "?'\a");
    EXPECT_EQ(text("cont"), "abc   def");
    EXPECT_EQ(text("multi"), "line1\nline2");
    EXPECT_EQ(text("kept"), "x ");
    EXPECT_EQ(text("k=x\xC3\xA9"), "odd key");
    EXPECT_EQ(text("grp/sub"), "(missing)");
    EXPECT_EQ(text("dup"), "second");
    EXPECT_EQ(text("Dup"), "upper");
    EXPECT_EQ(text("at"), "@foo");
    EXPECT_EQ(text("atat"), "@");
    EXPECT_EQ(text("str"), "x");
    EXPECT_EQ(text("nobrace"), "@ByteArray(abc");
    EXPECT_EQ(text("badutf"), "a\xEF\xBF\xBD[b\xEF\xBF\xBD");
    EXPECT_EQ(text("novalue"), "(missing)");
    EXPECT_EQ(text("subject"), "(missing)");

    ASSERT_EQ(values.at("list").Type, TType::TextList);
    EXPECT_EQ(values.at("list").Data, "a\n");
    // A byte array holds Latin-1 units; \x100 does not fit and becomes '?'; "\0" followed by a
    // digit is written "\0\x31" so the digit is not read as octal.
    ASSERT_EQ(values.at("ba").Type, TType::Bytes);
    EXPECT_EQ(values.at("ba").Data, std::string("?\xE9\xE9\0"
                                                "1",
                                                5));
}

TEST(SettingsFileTest, TheFileIsWhereQtPutsIt)
{
    {
        const ScopedEnv config("XDG_CONFIG_HOME", "/x/conf");
        EXPECT_EQ(SettingsFilePath(), "/x/conf/kestrom/pictova.conf");
    }
    {
        const ScopedEnv config("XDG_CONFIG_HOME", "");
        const ScopedEnv home("HOME", "/home/ann/");
        EXPECT_EQ(SettingsFilePath(), "/home/ann/.config/kestrom/pictova.conf");
    }
    {
        const ScopedEnv config("XDG_CONFIG_HOME");
        const ScopedEnv home("HOME");
        EXPECT_EQ(SettingsFilePath(), "/.config/kestrom/pictova.conf");
    }
}

TEST(SettingsFileTest, ReadingAFile)
{
    const TTempDir dir;
    // None saved yet: the first start's values.
    const TSavedSettings first = ReadSettingsFile(dir.File("none/pictova.conf"), kNow);
    EXPECT_EQ(first.Creator, "Kestrom Pictova");
    EXPECT_EQ(first.Producer, "Kestrom Pictova");
    EXPECT_EQ(first.Quality, 60);
    EXPECT_EQ(first.Created, kNow);
    EXPECT_EQ(first.Modified, kNow);

    WriteFileBytes(dir.File("pictova.conf"), kQtWritten);
    EXPECT_EQ(ReadSettingsFile(dir.File("pictova.conf"), kNow).Quality, 85);

    WriteFileBytes(dir.File("bad.conf"), "[General]\nauthor=@ByteArray(x)\n");
    try
    {
        ReadSettingsFile(dir.File("bad.conf"), kNow);
        ADD_FAILURE() << "loaded";
    }
    catch (const ESettingsError& e)
    {
        EXPECT_EQ(std::string(e.what()),
                  dir.File("bad.conf") + ": the value \"author\" holds a byte array, not a text");
    }
    EXPECT_THROW(ReadSettingsFile(dir.Path(), kNow), EFileError); // a folder
}
