#include "app/cli/CliArguments.h"

#include <vector>

#include <gtest/gtest.h>

#include "platform/Services.h"

namespace
{

TParseResult Parse(std::vector<const char*> args)
{
    args.insert(args.begin(), "pictova-cli");
    return ParseCliArguments(static_cast<int>(args.size()), args.data());
}

std::string ParseError(std::vector<const char*> args)
{
    return Parse(std::move(args)).Error;
}

} // namespace

TEST(CliArgumentsTest, OptionsAndPicturesMixInCommandLineOrder)
{
    const TParseResult parsed =
        Parse({"a.jpg", "--folder", "pics", "-o", "out.pdf", "b.png", "-q80", "--title=T=1",
               "--author", "Ann", "--folder=more/", "--quiet", "--", "-x.jpg", "--title"});
    ASSERT_EQ(parsed.Error, "");
    const TCliArguments& a = parsed.Arguments;
    EXPECT_EQ(a.Output, "out.pdf");
    EXPECT_EQ(a.Quality, 80);
    EXPECT_EQ(a.Title, "T=1");
    EXPECT_EQ(a.Author, "Ann");
    EXPECT_TRUE(a.Quiet);
    ASSERT_EQ(a.Sources.size(), 6u);
    const std::vector<std::pair<bool, std::string>> expected = {
        {false, "a.jpg"}, {true, "pics"},    {false, "b.png"},
        {true, "more/"},  {false, "-x.jpg"}, {false, "--title"}};
    for (std::size_t i = 0; i < expected.size(); ++i)
    {
        EXPECT_EQ(a.Sources[i].IsFolder, expected[i].first) << i;
        EXPECT_EQ(a.Sources[i].Path, expected[i].second) << i;
    }
}

TEST(CliArgumentsTest, Defaults)
{
    // Nothing given: the run takes the defaults, or the saved settings with --settings.
    const TCliArguments a = Parse({"x.jpg", "-o", "y.pdf"}).Arguments;
    EXPECT_FALSE(a.Quality.has_value());
    EXPECT_FALSE(a.Creator.has_value());
    EXPECT_FALSE(a.Producer.has_value());
    EXPECT_FALSE(a.Title.has_value());
    EXPECT_FALSE(a.Created.has_value());
    EXPECT_FALSE(a.Modified.has_value());
    EXPECT_FALSE(a.Quiet);
    EXPECT_FALSE(a.UseSettings);
    // An empty text given is given.
    const TCliArguments b = Parse({"--settings", "--title=", "x.jpg"}).Arguments;
    EXPECT_TRUE(b.UseSettings);
    EXPECT_EQ(b.Title, "");
    // A lone "-" is a name, not an option.
    EXPECT_EQ(Parse({"-", "-o", "y.pdf"}).Arguments.Sources.at(0).Path, "-");
}

TEST(CliArgumentsTest, UsageErrors)
{
    EXPECT_EQ(ParseError({"-q", "0"}), "invalid quality '0': give a whole number from 1 to 100");
    EXPECT_EQ(ParseError({"--quality=101"}),
              "invalid quality '101': give a whole number from 1 to 100");
    EXPECT_NE(ParseError({"-q", "6x"}), "");
    EXPECT_NE(ParseError({"-q", ""}), "");
    EXPECT_NE(ParseError({"-q", " 60"}), "");
    EXPECT_EQ(ParseError({"-q", "100"}), "");
    EXPECT_EQ(ParseError({"-q", "1"}), "");
    EXPECT_EQ(ParseError({"-j", "0"}),
              "invalid number of jobs '0': give a whole number from 1 to 256");
    EXPECT_EQ(Parse({"-j3", "a.jpg"}).Arguments.Jobs, 3);
    EXPECT_EQ(Parse({"--jobs=1", "a.jpg"}).Arguments.Jobs, 1);
    EXPECT_EQ(Parse({"a.jpg"}).Arguments.Jobs, 0);
    EXPECT_EQ(ParseError({"--colour", "red"}), "unrecognized option '--colour'");
    EXPECT_EQ(ParseError({"-x"}), "unrecognized option '-x'");
    EXPECT_EQ(ParseError({"a.jpg", "-o"}), "option '-o' needs a value");
    EXPECT_EQ(ParseError({"--output="}), "the output file name is empty");
    EXPECT_EQ(ParseError({"--created", "2024-13-01"}),
              "invalid date-time for --created '2024-13-01': give YYYY-MM-DD, "
              "YYYY-MM-DDTHH:MM or YYYY-MM-DDTHH:MM:SS");
    EXPECT_NE(ParseError({"--modified=yesterday"}), "");
}

TEST(CliArgumentsTest, HelpAndVersionAnswerAtOnce)
{
    EXPECT_TRUE(Parse({"-h", "--colour"}).Arguments.ShowHelp);
    EXPECT_TRUE(Parse({"a.jpg", "--help"}).Arguments.ShowHelp);
    const TParseResult version = Parse({"--version", "-q", "0"});
    EXPECT_TRUE(version.Arguments.ShowVersion);
    EXPECT_EQ(version.Error, "");
}

TEST(CliArgumentsTest, LocalDateTimes)
{
    EXPECT_EQ(ParseLocalDateTime("2024-02-29"), EncodeDateTime(2024, 2, 29));
    EXPECT_EQ(ParseLocalDateTime("2024-03-05T14:07"), EncodeDateTime(2024, 3, 5, 14, 7));
    EXPECT_EQ(ParseLocalDateTime("1999-12-31T23:59:59"), EncodeDateTime(1999, 12, 31, 23, 59, 59));
    EXPECT_EQ(ParseLocalDateTime("1890-01-01"), EncodeDateTime(1890, 1, 1)); // before day 0

    for (const char* bad : {"2023-02-29", "2100-02-29", "2024-04-31", "2024-00-10", "0000-01-01",
                            "2024-01-01T24:00", "2024-01-01T12:60", "2024-01-01T12:30:60",
                            "2024-1-01", "2024-01-01T12", "2024-01-01 12:30", "2024-01-01T12:30:",
                            "2024-01-01T12:30:4", "2024-01-01x", "24-01-01", ""})
        EXPECT_FALSE(ParseLocalDateTime(bad).has_value()) << bad;
}

TEST(CliArgumentsTest, TextArgumentsReachTheNarrowCodePage)
{
    ICodePage& cp1252 = Windows1252CodePage();
    ICodePage& utf8 = Utf8CodePage();
    // Under UTF-8 nothing changes, invalid bytes included: the writer decides about those.
    EXPECT_EQ(ToNarrowCodePage("\xCE\xB1\xCE\xB2 \xFF", "UTF-8", utf8), "\xCE\xB1\xCE\xB2 \xFF");
    EXPECT_EQ(ToNarrowCodePage("caf\xC3\xA9", "utf8", utf8), "caf\xC3\xA9");
    // Latin-1 and Latin-9 map to Windows-1252; the euro and OE ligature move.
    EXPECT_EQ(ToNarrowCodePage("caf\xE9", "ISO-8859-1", cp1252), "caf\xE9");
    EXPECT_EQ(ToNarrowCodePage("\xA4 \xBC", "ISO-8859-15", cp1252), "\x80 \x8C");
    // The C locale passes bytes on unchanged.
    EXPECT_EQ(ToNarrowCodePage("\xC3\xA9", "ANSI_X3.4-1968", utf8), "\xC3\xA9");
    // Another codeset under the UTF-8 code page is converted to UTF-8.
    EXPECT_EQ(ToNarrowCodePage("\xC1", "KOI8-R", utf8), "\xD0\xB0");
    // A character Windows-1252 cannot hold becomes '?'.
    EXPECT_EQ(ToNarrowCodePage("\xCE\xB1x", "UTF-8", cp1252), "?x");
}
