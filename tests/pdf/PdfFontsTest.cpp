#include "pdf/PdfFonts.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "PdfTestUtil.h"
#include "pdf/PdfDoc.h"
#include "pdf/PdfFont.h"
#include "pdf/PdfXref.h"

namespace
{

// The width of one byte code in the font registered under name.
class FontWidths
{
public:
    explicit FontWidths(const std::string& name)
    {
        RegisterPdfFonts();
        const auto* cls = dynamic_cast<const TPdfFontClass*>(TNameRegistry::Instance().Find(name));
        if (cls != nullptr)
        {
            m_font = cls->Create(m_xref, name);
        }
    }
    bool Found() const { return m_font != nullptr; }
    TPdfFont& Font() { return *m_font; }
    int operator()(int code) const
    {
        const std::string text(1, static_cast<char>(code));
        return m_font->GetCharWidth(text, 1);
    }

private:
    TPdfXref m_xref;
    std::unique_ptr<TPdfFont> m_font;
};

struct CheckRow
{
    int Code;
    std::vector<int> Widths; // Arial, Arial-Bold, Times-Roman, Times-Bold, Times-Italic,
                             // Times-BoldItalic
};

TEST(PdfFontsTest, ProportionalFontsMatchTheCheckingRows)
{
    const std::vector<std::string> fonts = {"Arial",      "Arial-Bold",   "Times-Roman",
                                            "Times-Bold", "Times-Italic", "Times-BoldItalic"};
    const std::vector<CheckRow> rows = {
        {32, {278, 278, 250, 250, 250, 250}},     {39, {191, 238, 180, 278, 214, 278}},
        {48, {556, 556, 500, 500, 500, 500}},     {64, {1015, 975, 921, 930, 920, 832}},
        {65, {667, 722, 722, 722, 611, 667}},     {87, {944, 944, 944, 1000, 833, 889}},
        {97, {556, 556, 444, 500, 500, 500}},     {105, {222, 278, 278, 278, 278, 278}},
        {109, {833, 889, 778, 833, 722, 778}},    {128, {556, 556, 500, 500, 500, 500}},
        {198, {1000, 1000, 889, 1000, 889, 944}},
    };
    for (std::size_t f = 0; f < fonts.size(); ++f)
    {
        FontWidths width(fonts[f]);
        ASSERT_TRUE(width.Found()) << fonts[f];
        for (const CheckRow& row : rows)
        {
            EXPECT_EQ(width(row.Code), row.Widths[f]) << fonts[f] << " code " << row.Code;
        }
        // Undefined codes, the no-break space and the soft hyphen measure as nothing.
        for (int code : {127, 129, 141, 143, 144, 157, 160, 173})
        {
            EXPECT_EQ(width(code), 0) << fonts[f] << " code " << code;
        }
        for (int code = 0; code < 32; ++code)
        {
            EXPECT_EQ(width(code), 0) << fonts[f] << " code " << code;
        }
    }
}

TEST(PdfFontsTest, ObliqueArialSharesTheUprightWidths)
{
    FontWidths regular("Arial");
    FontWidths italic("Arial-Italic");
    FontWidths bold("Arial-Bold");
    FontWidths boldItalic("Arial-BoldItalic");
    for (int code = 0; code < 256; ++code)
    {
        EXPECT_EQ(italic(code), regular(code)) << code;
        EXPECT_EQ(boldItalic(code), bold(code)) << code;
    }
}

TEST(PdfFontsTest, CourierIsSixHundredForEveryPrintableCode)
{
    for (const char* name :
         {"FixedWidth", "FixedWidth-Bold", "FixedWidth-Italic", "FixedWidth-BoldItalic"})
    {
        FontWidths width(name);
        ASSERT_TRUE(width.Found()) << name;
        for (int code = 0; code < 256; ++code)
        {
            EXPECT_EQ(width(code), code < 32 ? 0 : 600) << name << " code " << code;
        }
    }
}

TEST(PdfFontsTest, GetCharWidthReadsTheBytesAtOneBasedPositionsAndNothingOutside)
{
    FontWidths width("Arial");
    const std::string text = "Ai\xE9";
    EXPECT_EQ(width.Font().GetCharWidth(text, 1), 667);
    EXPECT_EQ(width.Font().GetCharWidth(text, 2), 222);
    EXPECT_EQ(width.Font().GetCharWidth(text, 3), 556); // eacute, a byte above 127
    EXPECT_EQ(width.Font().GetCharWidth(text, 0), 0);
    EXPECT_EQ(width.Font().GetCharWidth(text, 4), 0);
    EXPECT_EQ(width.Font().GetCharWidth("", 1), 0);
}

TEST(PdfFontsTest, DictionaryIsNumberedAndWrittenInKeyOrderWithoutWidths)
{
    TPdfXref xref;
    TPdfArialBold font(xref, "Arial-Bold");
    ASSERT_NE(font.Dictionary(), nullptr);
    EXPECT_EQ(font.Dictionary()->ObjectNumber(), 1);
    EXPECT_EQ(font.Name(), "Arial-Bold");
    EXPECT_EQ(Inline(*font.Dictionary()), "<<\r\n"
                                          "/Type /Font\r\n"
                                          "/Subtype /Type1\r\n"
                                          "/Encoding /WinAnsiEncoding\r\n"
                                          "/FirstChar 32\r\n"
                                          "/LastChar 255\r\n"
                                          "/BaseFont /Helvetica-Bold\r\n"
                                          ">>");
    const TPdfArray* widths = font.Dictionary()->LookupArray("Widths");
    ASSERT_NE(widths, nullptr);
    EXPECT_EQ(widths->ItemCount(), 224);
}

TEST(PdfFontsTest, CreateFontAddsTheResourceNameAfterTheBaseFont)
{
    TPdfDoc doc;
    doc.NewDocument();
    doc.AddPage(); // makes Arial as F0
    TPdfFont* font = doc.CreateFont("Arial-Bold");
    EXPECT_EQ(font->Name(), "Arial-Bold");
    EXPECT_EQ(Inline(*font->Dictionary()), "<<\r\n"
                                           "/Type /Font\r\n"
                                           "/Subtype /Type1\r\n"
                                           "/Encoding /WinAnsiEncoding\r\n"
                                           "/FirstChar 32\r\n"
                                           "/LastChar 255\r\n"
                                           "/BaseFont /Helvetica-Bold\r\n"
                                           "/Name /F1\r\n"
                                           ">>");
}

TEST(PdfFontsTest, EveryRegisteredNameWritesItsBaseFont)
{
    const std::vector<std::pair<std::string, std::string>> fonts = {
        {"FixedWidth", "Courier"},
        {"FixedWidth-Bold", "Courier-Bold"},
        {"FixedWidth-Italic", "Courier-Oblique"},
        {"FixedWidth-BoldItalic", "Courier-BoldOblique"},
        {"Arial", "Helvetica"},
        {"Arial-Bold", "Helvetica-Bold"},
        {"Arial-Italic", "Helvetica-Oblique"},
        {"Arial-BoldItalic", "Helvetica-BoldOblique"},
        {"Times-Roman", "Times-Roman"},
        {"Times-Bold", "Times-Bold"},
        {"Times-Italic", "Times-Italic"},
        {"Times-BoldItalic", "Times-BoldItalic"},
    };
    for (const auto& [name, baseFont] : fonts)
    {
        FontWidths width(name);
        ASSERT_TRUE(width.Found()) << name;
        const TPdfName* written = width.Font().Dictionary()->LookupName("BaseFont");
        ASSERT_NE(written, nullptr) << name;
        EXPECT_EQ(written->Value(), baseFont);
    }
}

TEST(PdfFontsTest, RegistryIgnoresCaseKnowsClassNamesButNotBaseFonts)
{
    RegisterPdfFonts();
    RegisterPdfFonts(); // again: harmless
    const TNameRegistry& registry = TNameRegistry::Instance();
    const TRegisteredClass* arialBold = registry.Find("Arial-Bold");
    ASSERT_NE(arialBold, nullptr);
    EXPECT_EQ(registry.Find("arial-bold"), arialBold);
    EXPECT_EQ(registry.Find("ARIAL-BOLD"), arialBold);
    EXPECT_STREQ(arialBold->ClassName(), "TPdfArialBold");
    ASSERT_NE(registry.Find("TPdfArial"), nullptr);
    EXPECT_EQ(registry.Find("TPdfArial"), registry.Find("Arial"));
    ASSERT_NE(registry.Find("Times-BoldItalic"), nullptr);
    EXPECT_EQ(registry.Find("tpdftimesbolditalic"), registry.Find("Times-BoldItalic"));
    EXPECT_EQ(registry.Find("Helvetica"), nullptr);
    EXPECT_EQ(registry.Find("Courier"), nullptr);
}

TEST(PdfFontsTest, EachRegisteredClassMakesAFontOfItsOwnClass)
{
    RegisterPdfFonts();
    TPdfXref xref;
    const auto make = [&xref](const char* name) {
        const auto* cls = dynamic_cast<const TPdfFontClass*>(TNameRegistry::Instance().Find(name));
        return cls != nullptr ? cls->Create(xref, name) : nullptr;
    };
    const std::unique_ptr<TPdfFont> courier = make("FixedWidth-BoldItalic");
    EXPECT_NE(dynamic_cast<TPdfFixedWidthBoldItalic*>(courier.get()), nullptr);
    EXPECT_EQ(dynamic_cast<TPdfFixedWidthBold*>(courier.get()), nullptr);
    const std::unique_ptr<TPdfFont> times = make("TPdfTimesItalic");
    EXPECT_NE(dynamic_cast<TPdfTimesItalic*>(times.get()), nullptr);
    EXPECT_EQ(dynamic_cast<TPdfTimesRoman*>(times.get()), nullptr);
}

TEST(PdfFontsTest, CreateFontOfAnUnknownNameFailsAndAddsNothing)
{
    TPdfDoc doc;
    doc.NewDocument();
    const int objects = doc.Xref()->ItemCount();
    try
    {
        doc.CreateFont("Helvetica");
        ADD_FAILURE() << "no exception";
    }
    catch (const Exception& e)
    {
        EXPECT_STREQ(e.what(), "CreateFont --InvalidFontName:Helvetica");
    }
    EXPECT_EQ(doc.Xref()->ItemCount(), objects);
    // The next font still gets the first resource name.
    EXPECT_EQ(doc.CreateFont("Times-Roman")->Dictionary()->LookupName("Name")->Value(), "F0");
}

TEST(PdfFontsTest, DictionaryWithMissingWidthAndAShortTable)
{
    TPdfXref xref;
    TPdfType1Font font(xref, "Custom");
    TPdfDictionary dictionary(&xref);
    dictionary.Put("FirstChar", std::make_unique<TPdfNumber>(65));
    dictionary.Put("LastChar", std::make_unique<TPdfNumber>(66));
    dictionary.Put("MissingWidth", std::make_unique<TPdfNumber>(250));
    const int widths[] = {700, 70000}; // the second is more than the table holds
    dictionary.Put("Widths", TPdfArray::CreateNumberArray(&xref, widths));
    font.SetDictionary(&dictionary);
    EXPECT_EQ(font.GetCharWidth("A", 1), 700);
    EXPECT_EQ(font.GetCharWidth("B", 1), 65535); // the widest it holds, not the low bits
    EXPECT_EQ(font.GetCharWidth("C", 1), 250);
    EXPECT_EQ(font.GetCharWidth(" ", 1), 250);
}

TEST(PdfFontsTest, WidthsBeyondCode255AreIgnored)
{
    TPdfXref xref;
    TPdfType1Font font(xref, "Custom");
    TPdfDictionary dictionary(&xref);
    dictionary.Put("FirstChar", std::make_unique<TPdfNumber>(250));
    dictionary.Put("LastChar", std::make_unique<TPdfNumber>(255));
    const std::vector<int> widths(40, 500);
    dictionary.Put("Widths", TPdfArray::CreateNumberArray(&xref, widths));
    font.SetDictionary(&dictionary);
    EXPECT_EQ(font.GetCharWidth("\xFF", 1), 500);
    EXPECT_EQ(font.GetCharWidth("\xF9", 1), 0);
}

} // namespace
