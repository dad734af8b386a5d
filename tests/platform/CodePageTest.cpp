#include <gtest/gtest.h>

#include "platform/Services.h"

TEST(CodePage, Windows1252MapsTheWholeHighHalf)
{
    const ICodePage& cp = Windows1252CodePage();
    EXPECT_FALSE(cp.IsMultiByte());
    EXPECT_FALSE(cp.HasMultiByteChar("caf\xE9 \x80"));
    EXPECT_EQ(cp.ToUtf16("A\x80\x9F\xE9\xFF"), u"A\u20AC\u0178\u00E9\u00FF");
    // Bytes the code page leaves undefined stay their C1 code points and survive a round trip.
    EXPECT_EQ(cp.ToUtf16("\x81\x8D\x8F\x90\x9D"), u"\u0081\u008D\u008F\u0090\u009D");
    std::string all;
    for (int byte = 0; byte < 256; ++byte)
    {
        all.push_back(static_cast<char>(byte));
    }
    EXPECT_EQ(cp.FromUtf16(cp.ToUtf16(all)), all);
    EXPECT_EQ(cp.FromUtf16(u"\u20AC\u3042\U0001F600x"), "\x80??x");
}

TEST(CodePage, Utf8CountsEveryNonAsciiByteAndReplacesInvalidInput)
{
    const ICodePage& cp = Utf8CodePage();
    EXPECT_TRUE(cp.IsMultiByte());
    EXPECT_FALSE(cp.HasMultiByteChar("plain ASCII ~"));
    EXPECT_TRUE(cp.HasMultiByteChar("caf\xC3\xA9"));
    EXPECT_TRUE(cp.HasMultiByteChar("\xE9")); // even a stray byte: never written as literal bytes

    EXPECT_EQ(cp.ToUtf16("caf\xC3\xA9 \xE3\x81\x82 \xF0\x9F\x98\x80"),
              u"caf\u00E9 \u3042 \U0001F600");
    EXPECT_EQ(cp.ToUtf16("a\xE9z"), u"a\uFFFDz");         // Latin-1 byte
    EXPECT_EQ(cp.ToUtf16("\xE3\x81"), u"\uFFFD");         // cut off at the end
    EXPECT_EQ(cp.ToUtf16("\xE3\x81Z"), u"\uFFFDZ");       // broken by an ASCII byte
    EXPECT_EQ(cp.ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");   // overlong slash
    EXPECT_EQ(cp.ToUtf16("\xED\xA0\x80"), u"\uFFFD");     // encoded surrogate
    EXPECT_EQ(cp.ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD"); // beyond U+10FFFF

    EXPECT_EQ(cp.FromUtf16(u"caf\u00E9 \u3042 \U0001F600"),
              "caf\xC3\xA9 \xE3\x81\x82 \xF0\x9F\x98\x80");
    EXPECT_EQ(cp.FromUtf16(std::u16string(1, char16_t(0xD800)) + u"x"), "?x");
}

TEST(CodePage, ShiftJisLeadBytesAndDoubleByteCharacters)
{
    const ICodePage& cp = ShiftJisCodePage();
    EXPECT_TRUE(cp.IsMultiByte());
    EXPECT_FALSE(cp.HasMultiByteChar("ABC"));
    EXPECT_TRUE(cp.HasMultiByteChar("A\x82\xA0"));
    EXPECT_TRUE(cp.HasMultiByteChar("\xE0\x40"));
    EXPECT_TRUE(cp.HasMultiByteChar("\xFC\x41"));
    // Half-width katakana (0xA1..0xDF) are single bytes, and 0x80, 0xA0, 0xFD..0xFF lead nothing.
    EXPECT_FALSE(cp.HasMultiByteChar("\xB1\xDF\xA1\x80\xA0\xFD"));
    // A trail byte in the ASCII range is not a lead byte itself.
    EXPECT_TRUE(cp.HasMultiByteChar("\x81\x40"));

    EXPECT_EQ(cp.ToUtf16("\x82\xA0"), u"\u3042");
    EXPECT_EQ(cp.ToUtf16("A\x93\xFA\x96\x7B"
                         "B"),
              u"A\u65E5\u672CB");
    EXPECT_EQ(cp.ToUtf16("\xB1"), u"\uFF71");
    EXPECT_EQ(cp.ToUtf16("x\x82"), u"x\uFFFD"); // lone lead byte at the end
    EXPECT_EQ(cp.FromUtf16(u"A\u3042\u65E5"), "A\x82\xA0\x93\xFA");
    EXPECT_EQ(cp.FromUtf16(u"\u0E01z"), "?z"); // Thai is not in the code page
}
