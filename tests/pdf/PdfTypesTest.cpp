#include <climits>
#include <cmath>
#include <limits>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "PdfTestUtil.h"
#include "pdf/PdfXref.h"
#include "tests/support/TestSupport.h"

namespace
{

TEST(PdfValues, WriteTheirSyntax)
{
    EXPECT_EQ(Inline(TPdfNull()), "null");
    EXPECT_EQ(Inline(TPdfBoolean(true)), "true");
    EXPECT_EQ(Inline(TPdfBoolean(false)), "false");
    EXPECT_EQ(Inline(TPdfNumber(0)), "0");
    EXPECT_EQ(Inline(TPdfNumber(-42)), "-42");
    EXPECT_EQ(Inline(TPdfNumber(INT_MIN)), "-2147483648");
    EXPECT_EQ(Inline(TPdfReal(2.5)), "2.5");
    EXPECT_EQ(Inline(TPdfName("")), "/");
    EXPECT_EQ(Inline(TPdfVirtualObject(7)), "7 0 R");
    EXPECT_EQ(Inline(TPdfObject()), "");
}

TEST(PdfValues, RealValueIsShortestWithinFifteenDigitsAndPlainDownToTheFifthDecimal)
{
    EXPECT_EQ(FormatRealValue(2), "2");
    EXPECT_EQ(FormatRealValue(-1.25), "-1.25");
    EXPECT_EQ(FormatRealValue(0.1 + 0.2), "0.3");
    EXPECT_EQ(FormatRealValue(1.0 / 3), "0.333333333333333");
    EXPECT_EQ(FormatRealValue(0.00001), "0.00001");
    EXPECT_EQ(FormatRealValue(0.0000125), "0.0000125");
    EXPECT_EQ(FormatRealValue(123456789012345.0), "123456789012345");
    EXPECT_EQ(FormatRealValue(1200), "1200");
    EXPECT_EQ(FormatRealValue(-0.0), "0");
    // Beyond those bounds the exponent form is used.
    EXPECT_EQ(FormatRealValue(0.000001), "1E-6");
    EXPECT_EQ(FormatRealValue(-1.5e15), "-1.5E15");
    // Not numbers in the PDF syntax: never written as such.
    EXPECT_EQ(FormatRealValue(std::numeric_limits<double>::quiet_NaN()), "0");
    EXPECT_EQ(FormatRealValue(std::numeric_limits<double>::infinity()), "0");
}

TEST(PdfValues, FormatRealRoundsHalfUpToTwoDecimals)
{
    EXPECT_EQ(FormatReal(1.5), "1.5");
    EXPECT_EQ(FormatReal(2), "2");
    EXPECT_EQ(FormatReal(0.333), "0.33");
    EXPECT_EQ(FormatReal(0.125), "0.13");
    EXPECT_EQ(FormatReal(-1), "-1");
    EXPECT_EQ(FormatReal(0.004), "0");
    EXPECT_EQ(FormatReal(-0.004), "0");
    EXPECT_EQ(FormatReal(-0.006), "-0.01");
    EXPECT_EQ(FormatReal(-2.125), "-2.12"); // half up, toward plus infinity
    EXPECT_EQ(FormatReal(841.89), "841.89");
}

TEST(PdfValues, NumbersIgnoreACommaDecimalLocale)
{
    ScopedNumericLocale german("de_DE.UTF-8");
    if (!german.Active())
    {
        GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";
    }
    EXPECT_EQ(FormatReal(0.5), "0.5");
    EXPECT_EQ(FormatRealValue(1234.5678), "1234.5678");
    EXPECT_EQ(Inline(TPdfReal(0.25)), "0.25");
}

TEST(PdfNames, EscapeDelimitersAndBytesOutsideThePrintableRange)
{
    EXPECT_EQ(Inline(TPdfName("Type")), "/Type");
    EXPECT_EQ(Inline(TPdfName("a b#c/d\xC8")), "/a#20b#23c#2Fd#C8");
    EXPECT_EQ(EscapeName("-_.+!~*"), "-_.+!~*");
    EXPECT_EQ(EscapeName("%()<>[]{}"), "#25#28#29#3C#3E#5B#5D#7B#7D");
    EXPECT_EQ(EscapeName(std::string("\x00\x7F\xFF", 3)), "#00#7F#FF");
}

TEST(PdfTexts, LiteralFormEscapesEightBytesAndKeepsTheRest)
{
    ScopedCodePage latin(Windows1252CodePage());
    EXPECT_EQ(Inline(TPdfText("a(b)c\\d")), "(a\\(b\\)c\\\\d)");
    EXPECT_EQ(Inline(TPdfText("x\r\ny\t\b\f")), "(x\\r\\ny\\t\\b\\f)");
    EXPECT_EQ(Inline(TPdfText("caf\xE9\x01")), "(caf\xE9\x01)");
    EXPECT_EQ(Inline(TPdfText("")), "()");
    EXPECT_EQ(BytesToHex("\x01\xAB z"), "01AB207A");
    EXPECT_EQ(UnicodeTextPrefix(), "FEFF");
}

// The unicode form is the byte order mark and UTF-16BE, nothing between them: a language
// escape there is shown as text by most readers.
TEST(PdfTexts, MultiByteTextsTakeTheUnicodeForm)
{
    {
        ScopedCodePage shiftJis(ShiftJisCodePage());
        // HIRAGANA LETTER A is 82 A0 in Shift-JIS.
        EXPECT_EQ(Inline(TPdfText("a\x82\xA0")), "<FEFF00613042>");
        EXPECT_EQ(Inline(TPdfText("plain")), "(plain)");
    }
    {
        ScopedCodePage utf8(Utf8CodePage());
        EXPECT_EQ(Inline(TPdfText("caf\xC3\xA9")), "<FEFF00630061006600E9>");
        EXPECT_EQ(TextToUnicodeHex("caf\xC3\xA9"), "00630061006600E9");
        EXPECT_EQ(Inline(TPdfText("\xF0\x9F\x98\x80")), "<FEFFD83DDE00>");
        EXPECT_EQ(Inline(TPdfText("a(b)")), "(a\\(b\\))");
    }
}

// Readers take a literal string's bytes in PDFDocEncoding: a single-byte text keeps the literal
// form only where its code page agrees with that (ASCII and Latin-1 letters and signs); the
// Windows-1252 quotes, dashes and euro sign, and bytes PDFDocEncoding spends on accents, take
// the unicode form.
TEST(PdfTexts, SingleByteTextsKeepTheLiteralFormWhereReadersAgree)
{
    ScopedCodePage latin(Windows1252CodePage());
    EXPECT_EQ(Inline(TPdfText("caf\xE9 \xA3\xFF")), "(caf\xE9 \xA3\xFF)");
    EXPECT_EQ(Inline(TPdfText("\x93Hi\x94 \x80\x97")), "<FEFF201C00480069201D002020AC2014>");
    EXPECT_EQ(Inline(TPdfText("a\x82\xA0")), "<FEFF0061201A00A0>");
    EXPECT_EQ(Inline(TPdfText("x\xAD")), "<FEFF007800AD>");
    EXPECT_EQ(Inline(TPdfText("x\x18")), "<FEFF00780018>");
    EXPECT_TRUE(FitsNarrowForm(""));
    EXPECT_FALSE(FitsNarrowForm("\x7F"));
}

TEST(PdfArrays, WriteItemsEachFollowedByASpace)
{
    TPdfArray empty(nullptr);
    EXPECT_EQ(Inline(empty), "[]");

    const int values[] = {0, -3, 596};
    auto numbers = TPdfArray::CreateNumberArray(nullptr, values);
    EXPECT_EQ(Inline(*numbers), "[0 -3 596 ]");

    TPdfArray mixed(nullptr);
    mixed.Append(std::make_unique<TPdfName>("PDF"));
    mixed.Append(std::move(numbers));
    mixed.Append(std::make_unique<TPdfText>("t"));
    EXPECT_EQ(Inline(mixed), "[/PDF [0 -3 596 ] (t) ]");
}

TEST(PdfArrays, NumberedObjectsAreStoredAsReferencesAndResolvedThroughTheManager)
{
    TPdfXref xref;
    auto& first = xref.Add(std::make_unique<TPdfDictionary>(&xref));
    auto& second = xref.Add(std::make_unique<TPdfDictionary>(&xref));

    TPdfArray kids(&xref);
    kids.Append(second);
    kids.Append(second);
    kids.Append(first);
    EXPECT_EQ(Inline(kids), "[2 0 R 2 0 R 1 0 R ]");
    EXPECT_EQ(kids.Item(0), &second);
    EXPECT_EQ(kids.Item(2), &first);
    EXPECT_THROW(kids.Item(3), std::out_of_range);

    TPdfArray unmanaged(nullptr);
    unmanaged.Append(first);
    EXPECT_EQ(unmanaged.Item(0), nullptr);

    // Ownership stays visible: a direct object cannot be stored by reference, nor a numbered
    // one handed over.
    TPdfName loose("x");
    EXPECT_THROW(kids.Append(loose), EPdfInvalidValue);
    EXPECT_THROW(kids.Append(std::unique_ptr<TPdfObject>()), EPdfInvalidValue);
    EXPECT_EQ(kids.ItemCount(), 3);
}

TEST(PdfArrays, FindAndRemoveNamesByExactText)
{
    TPdfXref xref;
    auto& numberedName = xref.Add(std::make_unique<TPdfName>("Shared"));
    TPdfArray filter(&xref);
    filter.Append(std::make_unique<TPdfName>("FlateDecode"));
    filter.Append(std::make_unique<TPdfText>("DCTDecode"));
    filter.Append(numberedName);

    EXPECT_EQ(filter.FindName("flatedecode"), nullptr);
    EXPECT_NE(filter.FindName("DCTDecode"), nullptr);
    EXPECT_EQ(filter.FindName("Shared"), &numberedName);

    EXPECT_TRUE(filter.RemoveName("FlateDecode"));
    EXPECT_FALSE(filter.RemoveName("FlateDecode"));
    // Found through a reference, but not this array's own item: found, and kept.
    EXPECT_TRUE(filter.RemoveName("Shared"));
    EXPECT_EQ(Inline(filter), "[(DCTDecode) 1 0 R ]");
    EXPECT_EQ(filter.ItemCount(), 2);
}

TEST(PdfDictionaries, WriteEntriesInInsertionOrderAndMoveAReplacedKeyToTheEnd)
{
    TPdfDictionary empty(nullptr);
    EXPECT_EQ(Inline(empty), "<<\r\n>>");

    TPdfDictionary page(nullptr);
    page.Put("Type", std::make_unique<TPdfName>("Page"));
    page.Put("Count", std::make_unique<TPdfNumber>(1));
    page.Put("Type", std::make_unique<TPdfName>("Pages"));
    auto& nested = static_cast<TPdfDictionary&>(
        page.Put("Resources", std::make_unique<TPdfDictionary>(nullptr)));
    nested.Put("XObject", std::make_unique<TPdfDictionary>(nullptr));
    EXPECT_EQ(Inline(page), "<<\r\n/Count 1\r\n/Type /Pages\r\n/Resources <<\r\n/XObject "
                            "<<\r\n>>\r\n>>\r\n>>");
    EXPECT_EQ(page.ItemCount(), 3);
    EXPECT_EQ(page.Item(0)->Key().Value(), "Count");

    page.Remove("Count");
    page.Remove("Missing");
    EXPECT_EQ(page.ItemCount(), 2);
    EXPECT_EQ(GetTypeOf(page), "Pages");
    EXPECT_EQ(GetTypeOf(empty), "");
}

TEST(PdfDictionaries, InternalEntriesAreFoundButNeverWritten)
{
    TPdfDictionary page(nullptr);
    page.PutInternal("_Font", std::make_unique<TPdfName>("Arial"));
    EXPECT_EQ(Inline(page), "<<\r\n>>");
    ASSERT_NE(page.LookupName("_Font"), nullptr);
    EXPECT_EQ(page.LookupName("_Font")->Value(), "Arial");
    // The same key put again becomes a written entry.
    page.Put("_Font", std::make_unique<TPdfNumber>(3));
    EXPECT_EQ(Inline(page), "<<\r\n/_Font 3\r\n>>");
}

TEST(PdfDictionaries, LookupsResolveReferencesAndCheckTheClass)
{
    TPdfXref xref;
    auto& parent = xref.Add(std::make_unique<TPdfDictionary>(&xref));
    for (int i = 0; i < 5; ++i)
    {
        xref.Add(std::make_unique<TPdfNull>());
    }
    auto& numbered = xref.Add(std::make_unique<TPdfDictionary>(&xref));
    ASSERT_EQ(numbered.ObjectNumber(), 7);

    TPdfDictionary page(&xref);
    page.Put("Parent", numbered);
    page.Put("Size", std::make_unique<TPdfNumber>(4));
    EXPECT_EQ(Inline(page), "<<\r\n/Parent 7 0 R\r\n/Size 4\r\n>>");
    EXPECT_EQ(page.Lookup("Parent"), &numbered);
    EXPECT_EQ(page.LookupDictionary("Parent"), &numbered);
    EXPECT_EQ(page.LookupNumber("Size")->Value(), 4);
    EXPECT_EQ(page.LookupName("Size"), nullptr);
    EXPECT_EQ(page.LookupArray("Parent"), nullptr);
    EXPECT_EQ(page.LookupReal("Missing"), nullptr);
    EXPECT_EQ(page.Lookup("parent"), nullptr);

    TPdfDictionary unmanaged(nullptr);
    unmanaged.Put("Parent", parent);
    EXPECT_EQ(unmanaged.Lookup("Parent"), nullptr);
    EXPECT_EQ(Inline(unmanaged), "<<\r\n/Parent 1 0 R\r\n>>");
}

TEST(PdfDictionaries, PutWithoutAValueIsRefusedAndChangesNothing)
{
    TPdfDictionary dictionary(nullptr);
    dictionary.Put("Keep", std::make_unique<TPdfNull>());
    try
    {
        dictionary.Put("Keep", std::unique_ptr<TPdfObject>());
        FAIL() << "no exception";
    }
    catch (const EPdfInvalidValue& e)
    {
        EXPECT_STREQ(e.what(), "internal error. wrong object.");
    }
    EXPECT_THROW(dictionary.PutInternal("Keep", std::unique_ptr<TPdfObject>()), EPdfInvalidValue);
    TPdfNull direct;
    EXPECT_THROW(dictionary.Put("Keep", direct), EPdfInvalidValue);
    EXPECT_EQ(Inline(dictionary), "<<\r\n/Keep null\r\n>>");
}

TEST(PdfStreams, WriteLengthFilterAndDataWithOneLineFeedBeforeEndstream)
{
    TPdfStream empty(nullptr);
    EXPECT_EQ(Inline(empty), "<<\r\n/Length 0\r\n/Filter []\r\n>>\r\nstream\r\n\nendstream");

    TPdfStream content(nullptr);
    content.Data().Write("BT\nET\n");
    content.Attributes().Put("Type", std::make_unique<TPdfName>("XObject"));
    EXPECT_EQ(
        Inline(content),
        "<<\r\n/Length 6\r\n/Filter []\r\n/Type /XObject\r\n>>\r\nstream\r\nBT\nET\n\nendstream");
    // Every write recounts.
    content.Data().Write("q\n");
    EXPECT_THAT(Inline(content), ::testing::HasSubstr("/Length 8\r\n"));
}

TEST(PdfStreams, NeverCarryACompressionFilter)
{
    TPdfStream image(nullptr);
    TPdfArray& filter = *image.Attributes().LookupArray("Filter");
    filter.Append(std::make_unique<TPdfName>("FlateDecode"));
    filter.Append(std::make_unique<TPdfName>("DCTDecode"));
    EXPECT_EQ(Inline(image),
              "<<\r\n/Length 0\r\n/Filter [/DCTDecode ]\r\n>>\r\nstream\r\n\nendstream");
}

TEST(PdfBinaries, WriteTheirBytesVerbatim)
{
    TPdfBinary binary;
    binary.Data().Write(std::string("<00 FF>\r\n\0", 10));
    EXPECT_EQ(Inline(binary), std::string("<00 FF>\r\n\0", 10));
}

TEST(PdfObjects, NumberedObjectsWriteTheirBodyOnlyInTheIndirectForm)
{
    TPdfXref xref;
    auto& number = xref.Add(std::make_unique<TPdfNumber>(5));
    EXPECT_EQ(number.ObjectKind(), okIndirect);
    TMemoryStream reference;
    number.WriteInline(reference);
    EXPECT_EQ(reference.Bytes(), "1 0 R");
    TMemoryStream body;
    number.WriteIndirect(body);
    EXPECT_EQ(body.Bytes(), "1 0 obj\r\n5\r\nendobj\r\n");

    TPdfNumber direct(1);
    TPdfVirtualObject proxy(1);
    for (const TPdfObject* object :
         {static_cast<const TPdfObject*>(&direct), static_cast<const TPdfObject*>(&proxy)})
    {
        TMemoryStream out;
        try
        {
            object->WriteIndirect(out);
            FAIL() << "no exception";
        }
        catch (const EPdfInvalidOperation& e)
        {
            EXPECT_STREQ(e.what(), "internal error wrong object type");
        }
        EXPECT_EQ(out.Bytes(), "");
    }
    EXPECT_EQ(proxy.ObjectKind(), okVirtual);
}

TEST(PdfDates, WriteTheOffsetInForceAtThatMoment)
{
    const TDateTime winter = EncodeDateTime(2024, 3, 7, 14, 5, 9);
    const TDateTime summer = EncodeDateTime(2024, 7, 7, 14, 5, 9);
    {
        ScopedTZ zone("CET-1CEST,M3.5.0,M10.5.0/3");
        EXPECT_EQ(FormatPdfDate(winter), "D:20240307140509+01'00'");
        EXPECT_EQ(FormatPdfDate(summer), "D:20240707140509+02'00'");
    }
    {
        ScopedTZ zone("IST-5:30");
        EXPECT_EQ(FormatPdfDate(winter), "D:20240307140509+05'30'");
    }
    {
        ScopedTZ zone("EST5EDT,M3.2.0,M11.1.0");
        EXPECT_EQ(FormatPdfDate(winter), "D:20240307140509-05'00'");
        EXPECT_EQ(FormatPdfDate(summer), "D:20240707140509-04'00'");
    }
    {
        ScopedTZ zone("NST3:30");
        EXPECT_EQ(FormatPdfDate(winter), "D:20240307140509-03'30'");
    }
    {
        ScopedTZ zone("UTC0");
        EXPECT_EQ(FormatPdfDate(winter), "D:20240307140509-00'00'");
        // The time of day is rounded to the millisecond, then cut to the second.
        EXPECT_EQ(FormatPdfDate(EncodeDateTime(2024, 3, 7, 14, 5, 8, 999) + 0.0006 / 86400),
                  "D:20240307140509-00'00'");
        EXPECT_EQ(FormatPdfDate(EncodeDateTime(999, 1, 2, 3, 4, 5)), "D:09990102030405-00'00'");
    }
}

} // namespace
