#include "pdf/PdfCanvas.h"

#include <cmath>
#include <functional>
#include <limits>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "PdfTestUtil.h"
#include "pdf/PdfDoc.h"
#include "tests/support/TestSupport.h"

using ::testing::HasSubstr;

namespace
{

// A document with one page whose content stream starts empty after the default font line.
class PdfCanvasTest : public ::testing::Test
{
protected:
    PdfCanvasTest()
    {
        m_doc.NewDocument();
        m_doc.AddPage();
        m_canvas = m_doc.GetCanvas();
        EXPECT_EQ(m_canvas->Contents()->Data().Bytes(), "/F0 10 Tf\n");
        m_canvas->Contents()->Data().Clear();
    }

    std::string Content() const { return m_canvas->Contents()->Data().Bytes(); }
    std::string TakeContent()
    {
        std::string content = Content();
        m_canvas->Contents()->Data().Clear();
        return content;
    }

    void AddImage(const std::string& name)
    {
        auto image = std::make_unique<TPdfImage>(nullptr);
        image->Attributes().Put("Type", std::make_unique<TPdfName>("XObject"));
        image->Attributes().Put("Subtype", std::make_unique<TPdfName>("Image"));
        image->Attributes().Put("ColorSpace", std::make_unique<TPdfName>("DeviceRGB"));
        image->Attributes().Put("Width", std::make_unique<TPdfNumber>(1));
        image->Attributes().Put("Height", std::make_unique<TPdfNumber>(1));
        image->Attributes().Put("BitsPerComponent", std::make_unique<TPdfNumber>(8));
        image->Data().Write("\xFF\x80\x00");
        m_doc.AddImage(name, std::move(image));
    }

    ScopedCodePage m_codePage{Windows1252CodePage()};
    TPdfDoc m_doc;
    TPdfCanvas* m_canvas = nullptr;
};

TEST_F(PdfCanvasTest, OperatorWritersWriteExactText)
{
    m_canvas->GSave();
    m_canvas->Concat(1, 0, 0, 1, 10.5F, 20.333F);
    m_canvas->Rectangle(0, 0.006F, 596, 841.999F);
    m_canvas->Clip();
    m_canvas->NewPath();
    m_canvas->BeginText();
    m_canvas->MoveTextPoint(-3, 1.0F / 3);
    m_canvas->MoveToNextLine();
    m_canvas->ShowText("a(b)\\");
    m_canvas->SetFontAndSize("/F3", 12.5F);
    m_canvas->EndText();
    m_canvas->ExecuteXObject("Image1");
    m_canvas->GRestore();
    EXPECT_EQ(Content(), "q\n1 0 0 1 10.5 20.33 cm\n0 0.01 596 842 re\nW\nn\nBT\n-3 0.33 Td\nT*\n"
                         "(a\\(b\\)\\\\) Tj\n/F3 12.5 Tf\nET\n/Image1 Do\nQ\n");

    // A name with a blank or a delimiter is escaped as its resource key is.
    const std::size_t before = Content().size();
    m_canvas->ExecuteXObject("My Image(2)");
    EXPECT_EQ(Content().substr(before), "/My#20Image#282#29 Do\n");
}

TEST_F(PdfCanvasTest, FillColourIsWrittenAsThreeFractions)
{
    m_canvas->SetRGBFillColor(0x0000FF);
    m_canvas->SetRGBFillColor(0xFF0000);
    m_canvas->SetRGBFillColor(0x008000);
    m_canvas->SetRGBFillColor(-5);
    m_canvas->SetRGBFillColor(0x7F00FF00);
    EXPECT_EQ(Content(), "1 0 0 rg\n0 0 1 rg\n0 0.5 0 rg\n0 0 0 rg\n0 1 0 rg\n");
}

TEST_F(PdfCanvasTest, ShowTextUsesRawHexForMultiByteText)
{
    ScopedCodePage shiftJis(ShiftJisCodePage());
    m_canvas->ShowText("a\x82\xA0");
    m_canvas->ShowText("(plain)");
    EXPECT_EQ(Content(), "<6182A0> Tj\n(\\(plain\\)) Tj\n");
}

TEST_F(PdfCanvasTest, TextStateOperatorsAreWrittenOnlyOnChange)
{
    m_canvas->SetCharSpace(2);
    m_canvas->SetCharSpace(2);
    m_canvas->SetWordSpace(1.5F);
    m_canvas->SetWordSpace(1.5F);
    m_canvas->SetLeading(14);
    m_canvas->SetLeading(14);
    m_canvas->SetCharSpace(0);
    m_canvas->SetFont("Arial", 10);
    m_canvas->SetFont("Arial", 12);
    m_canvas->SetFont("Arial", 12);
    m_canvas->SetFont("Times-Roman", 12);
    EXPECT_EQ(Content(), "2 Tc\n1.5 Tw\n14 TL\n0 Tc\n/F0 12 Tf\n/F1 12 Tf\n");
    EXPECT_EQ(Inline(*GetPageResource(m_canvas->GetPage(), "Font")),
              "<<\r\n/F0 6 0 R\r\n/F1 7 0 R\r\n>>");
}

TEST_F(PdfCanvasTest, AttributeSettersCheckTheirBounds)
{
    TPdfCanvasAttribute& state = m_canvas->Attribute();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    state.SetCharSpace(-30);
    state.SetCharSpace(300);
    ExpectThrowWithMessage<EPdfInvalidValue>([&] { state.SetCharSpace(-30.5F); },
                                             "SetCharSpace --invalid char space");
    ExpectThrowWithMessage<EPdfInvalidValue>([&] { state.SetCharSpace(300.5F); },
                                             "SetCharSpace --invalid char space");
    EXPECT_EQ(state.CharSpace(), 300);
    ExpectThrowWithMessage<EPdfInvalidValue>([&] { state.SetHorizontalScaling(9); },
                                             "SetHorizontalScaling --invalid font size");
    ExpectThrowWithMessage<EPdfInvalidValue>([&] { state.SetHorizontalScaling(301); },
                                             "SetHorizontalScaling --invalid font size");
    state.SetHorizontalScaling(10);
    EXPECT_EQ(state.HorizontalScaling(), 10);
    ExpectThrowWithMessage<EPdfInvalidValue>([&] { state.SetWordSpace(-0.1F); },
                                             "SetWordSpace --invalid word space");
    ExpectThrowWithMessage<EPdfInvalidValue>([&] { state.SetWordSpace(nan); },
                                             "SetWordSpace --invalid word space");
    state.SetLeading(0);
    ExpectThrowWithMessage<EPdfInvalidValue>([&] { state.SetLeading(300.5F); },
                                             "SetLeading --invalid font size");
    ExpectThrowWithMessage<EPdfInvalidValue>([&] { state.SetFontSize(nan); },
                                             "SetCharSpace --invalid font size");
    ExpectThrowWithMessage<EPdfInvalidValue>([&] { state.SetFontSize(-1); },
                                             "SetCharSpace --invalid font size");
    EXPECT_EQ(state.FontSize(), 10);

    // The canvas checks before it writes.
    EXPECT_THROW(m_canvas->SetLeading(-1), EPdfInvalidValue);
    EXPECT_EQ(Content(), "");
}

TEST_F(PdfCanvasTest, SetFontWithABadSizeWritesTfThenRaises)
{
    ExpectThrowWithMessage<EPdfInvalidValue>([&] { m_canvas->SetFont("Times-Bold", 301); },
                                             "SetCharSpace --invalid font size");
    EXPECT_EQ(Content(), "/F1 301 Tf\n");
    EXPECT_EQ(m_canvas->Attribute().Font()->Name(), "Times-Bold");
    EXPECT_EQ(m_canvas->Attribute().FontSize(), 10);
}

TEST_F(PdfCanvasTest, TextWidthAndMeasureText)
{
    // Arial: A and B are 667 thousandths, the space 278, the no-break space (160) 0.
    m_canvas->SetWordSpace(2);
    EXPECT_NEAR(m_canvas->TextWidth("A B"), 18.12, 1e-4);
    EXPECT_NEAR(m_canvas->TextWidth("A "), 9.45, 1e-4);
    EXPECT_EQ(m_canvas->MeasureText("", 100), 0);
    EXPECT_EQ(m_canvas->MeasureText("AB", 10), 1);
    EXPECT_EQ(m_canvas->MeasureText("AB", 13.35F), 2);
    EXPECT_EQ(m_canvas->MeasureText("AB", 0), 0);

    m_canvas->SetWordSpace(0);
    m_canvas->SetCharSpace(1);
    EXPECT_FLOAT_EQ(m_canvas->TextWidth(""), -1);
    EXPECT_NEAR(m_canvas->TextWidth("A\xA0"
                                    "B"),
                6.67 + 1 + 6.67, 1e-4);
    // Scaling acts on the glyphs, not on the spacing.
    m_canvas->Attribute().SetHorizontalScaling(50);
    EXPECT_NEAR(m_canvas->TextWidth("AB"), 3.335 + 1 + 3.335, 1e-4);
}

TEST_F(PdfCanvasTest, MeasuringBeforeAnyPageCountsNothing)
{
    TPdfCanvas canvas(&m_doc);
    EXPECT_EQ(canvas.TextWidth("AB"), 0);
    ExpectThrowWithMessage<EPdfInvalidOperation>([&] { canvas.GetPage(); },
                                                 "GetPage --the Page is nil");
    ExpectThrowWithMessage<EPdfInvalidOperation>([&] { canvas.SetPageWidth(1); },
                                                 "GetPage --the Page is nil");
    TPdfCanvas orphan(nullptr);
    ExpectThrowWithMessage<EPdfInvalidOperation>([&] { orphan.GetDoc(); },
                                                 "ERROR: GetDoc documant is nil.");
}

TEST_F(PdfCanvasTest, GetNextWordKeepsTheClosingSpaceOrLineBreak)
{
    int position = 1;
    EXPECT_EQ(m_canvas->GetNextWord("ab cd", position), "ab ");
    EXPECT_EQ(position, 4);
    EXPECT_EQ(m_canvas->GetNextWord("ab cd", position), "cd");
    EXPECT_EQ(position, 6);
    EXPECT_EQ(m_canvas->GetNextWord("ab cd", position), "");
    EXPECT_EQ(position, 6);

    position = 1;
    EXPECT_EQ(m_canvas->GetNextWord("ab\r\ncd", position), "ab\r\n");
    EXPECT_EQ(position, 5);
    position = 1;
    EXPECT_EQ(m_canvas->GetNextWord("\nab\ncd", position), "\nab\ncd");
}

TEST_F(PdfCanvasTest, TextRectSetsLinesIntoTheBox)
{
    m_canvas->SetLeading(12);
    TakeContent();
    // Arial 10: a b d e 5.56, c 5, f and the space 2.78.
    m_canvas->TextRect(PdfBox(10, 100, 60, 0), "ab cd ef", true);
    EXPECT_EQ(TakeContent(), "BT\n10 91.5 Td\n(ab cd ef) Tj\nET\n");

    m_canvas->TextRect(PdfBox(10, 100, 40, 0), "ab cd ef", true);
    EXPECT_EQ(TakeContent(), "BT\n10 91.5 Td\n(ab cd ) Tj\nT*\n(ef) Tj\nET\n");

    // Without word wrap the line only breaks at CR LF, and is cut to the box.
    m_canvas->TextRect(PdfBox(10, 100, 40, 0), "ab cd ef", false);
    EXPECT_EQ(TakeContent(), "BT\n10 91.5 Td\n(ab cd ) Tj\nET\n");
    m_canvas->TextRect(PdfBox(10, 100, 100, 0), "ab\r\ncd", false);
    EXPECT_EQ(TakeContent(), "BT\n10 91.5 Td\n(ab) Tj\nT*\n(cd) Tj\nET\n");

    // Lower than one line: the first line shows, the rest is dropped.
    m_canvas->TextRect(PdfBox(10, 100, 40, 95), "ab cd ef", true);
    EXPECT_EQ(TakeContent(), "BT\n10 91.5 Td\n(ab cd ) Tj\nT*\nET\n");

    // A word wider than the box is cut to what fits.
    m_canvas->TextRect(PdfBox(10, 100, 20, 0), "abcd", true);
    EXPECT_EQ(TakeContent(), "BT\n10 91.5 Td\n(a) Tj\nET\n");

    m_canvas->TextRect(PdfBox(0, 842, 596, 0), "", true);
    EXPECT_EQ(TakeContent(), "BT\n0 833.5 Td\nET\n");
}

TEST_F(PdfCanvasTest, DrawXObjectEntersOneResourceAndDrawsEachTime)
{
    AddImage("Image1");
    m_canvas->DrawXObject("Image1", 10, 20, 100, 50);
    m_canvas->DrawXObject("Image1", 10, 20, 100, 50);
    EXPECT_EQ(TakeContent(), "q\n100 0 0 50 10 20 cm\n/Image1 Do\nQ\n"
                             "q\n100 0 0 50 10 20 cm\n/Image1 Do\nQ\n");
    EXPECT_EQ(Inline(*GetPageResource(m_canvas->GetPage(), "XObject")),
              "<<\r\n/Image1 7 0 R\r\n>>");

    m_canvas->DrawXObjectEx("Image1", 0, -10.5F, 640, 480, 0, 0, 320, 240.25F);
    EXPECT_EQ(TakeContent(), "q\n0 0 320 240.25 re\nW\nn\n640 0 0 480 0 -10.5 cm\n/Image1 Do\nQ\n");

    ExpectThrowWithMessage<EPdfInvalidValue>([&] { m_canvas->DrawXObject("Image2", 0, 0, 1, 1); },
                                             "DrawXObject --XObject not found: Image2");
    ExpectThrowWithMessage<EPdfInvalidValue>(
        [&] { m_canvas->DrawXObjectEx("Image2", 0, 0, 1, 1, 0, 0, 1, 1); },
        "DrawXObjectEx --XObject not found: Image2");
    EXPECT_EQ(Content(), "");
}

TEST_F(PdfCanvasTest, PageSizeSettersRewriteTheMediaBox)
{
    m_canvas->SetPageHeight(480);
    m_canvas->SetPageWidth(640);
    EXPECT_EQ(Inline(*m_canvas->GetPage().LookupArray("MediaBox")), "[0 0 640 480 ]");
    m_canvas->GetPage().Remove("MediaBox");
    ExpectThrowWithMessage<EPdfInvalidOperation>([&] { m_canvas->SetPageWidth(1); },
                                                 "Can not chenge width of this page..");
    ExpectThrowWithMessage<EPdfInvalidOperation>([&] { m_canvas->SetPageHeight(1); },
                                                 "Can not chenge width of this page..");
}

TEST_F(PdfCanvasTest, ReturningToAPageRestoresItsTextState)
{
    TPdfDictionary* first = m_canvas->Page();
    m_canvas->SetFont("Times-Bold", 14);
    m_canvas->SetCharSpace(1);
    m_canvas->SetWordSpace(2);
    m_canvas->SetLeading(12);
    m_canvas->Attribute().SetHorizontalScaling(80);

    m_doc.AddPage();
    const TPdfCanvasAttribute& state = m_canvas->Attribute();
    EXPECT_EQ(m_canvas->Contents()->Data().Bytes(), "/F0 10 Tf\n");
    EXPECT_EQ(state.Font()->Name(), "Arial");
    EXPECT_EQ(state.HorizontalScaling(), 100);
    EXPECT_EQ(state.Leading(), 0);
    // The stored state stays out of the file.
    EXPECT_THAT(Inline(*first), ::testing::Not(HasSubstr("_")));

    TakeContent();
    m_canvas->SetPage(first);
    EXPECT_EQ(state.Font()->Name(), "Times-Bold");
    EXPECT_EQ(state.FontSize(), 14);
    EXPECT_EQ(state.CharSpace(), 1);
    EXPECT_EQ(state.WordSpace(), 2);
    EXPECT_EQ(state.Leading(), 12);
    EXPECT_EQ(state.HorizontalScaling(), 80);
    EXPECT_EQ(Content(), "/F1 14 Tf\n1 Tc\n2 Tw\n12 TL\n");
}

TEST(PdfCanvasWholeFile, DrawnPagesPassQpdfAndRender)
{
    ScopedCodePage codePage(Windows1252CodePage());
    TPdfDoc doc;
    doc.SetUseOutlines(true);
    doc.NewDocument();
    doc.GetRoot()->SetPageMode(pmUseOutlines);
    doc.GetRoot()->SetViewerPreference({vpFitWindow, vpHideToolbar});
    doc.GetInfo()->SetTitle("Canvas (test)");
    const char* fonts[] = {"Arial", "Times-Italic", "FixedWidth-Bold"};
    for (int page = 0; page < 3; ++page)
    {
        doc.AddPage();
        TPdfCanvas& canvas = *doc.GetCanvas();
        canvas.SetPageWidth(300);
        canvas.SetPageHeight(200);
        canvas.SetFont(fonts[page], 12);
        canvas.SetLeading(14);
        canvas.SetRGBFillColor(0x804020);
        canvas.TextRect(PdfBox(10, 190, 290, 100),
                        "Page text, wrapped into the box\r\nand "
                        "a forced break (\xE9t\xE9).",
                        true);
    }
    auto image = std::make_unique<TPdfImage>(nullptr);
    image->Attributes().Put("Type", std::make_unique<TPdfName>("XObject"));
    image->Attributes().Put("Subtype", std::make_unique<TPdfName>("Image"));
    image->Attributes().Put("ColorSpace", std::make_unique<TPdfName>("DeviceRGB"));
    image->Attributes().Put("Width", std::make_unique<TPdfNumber>(2));
    image->Attributes().Put("Height", std::make_unique<TPdfNumber>(1));
    image->Attributes().Put("BitsPerComponent", std::make_unique<TPdfNumber>(8));
    image->Data().Write("\xFF\x00\x00\x00\x00\xFF");
    doc.AddImage("Picture", std::move(image));
    doc.GetCanvas()->DrawXObjectEx("Picture", 0, 0, 300, 100, 10, 10, 100, 50);

    TTempDir dir;
    TFileStream file(dir.File("canvas.pdf"), TFileStream::Mode::Create);
    doc.SaveToStream(file);
    file.Close();
    std::string output;
    EXPECT_TRUE(QpdfCheckPasses(dir.File("canvas.pdf"), &output)) << output;
    EXPECT_TRUE(PdftoppmRenders(dir.File("canvas.pdf"), &output)) << output;
}

} // namespace
