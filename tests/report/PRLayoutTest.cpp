#include <gtest/gtest.h>

#include "platform/Exceptions.h"
#include "report/PRJpegImage.h"
#include "report/PReport.h"
#include "tests/report/RecordingPainter.h"
#include "tests/report/ReportTestSupport.h"

namespace
{

// Records the rectangle it is printed into and writes a marker into the content.
class TProbeItem : public TPRItem
{
public:
    TProbeItem(TComponent* owner, std::vector<std::string>* log) : TPRItem(owner), m_log(log) {}
    void Print(TPRCanvas& canvas, const TRect& rect) override
    {
        m_log->push_back(Name() + " " + std::to_string(rect.Left) + "," + std::to_string(rect.Top) +
                         "," + std::to_string(rect.Right) + "," + std::to_string(rect.Bottom));
        canvas.PdfCanvas()->WriteContent("% " + Name() + "\n");
    }

private:
    std::vector<std::string>* m_log;
};

class PRLayoutTest : public ::testing::Test
{
protected:
    PRLayoutTest() { m_doc.NewDocument(); }

    template <class T, class... Args>
    T& Make(const std::string& name, TWinControl* parent, Args&&... args)
    {
        T& control = m_form.Create<T>(std::forward<Args>(args)...);
        control.SetName(name);
        control.SetParent(parent);
        return control;
    }
    // The content a print of page adds after the default font line of a new page.
    std::string Print(TPRPage& page)
    {
        const std::string content = PrintOnto(m_doc, page);
        const std::string fontLine = "/F0 10 Tf\n";
        EXPECT_EQ(content.substr(0, fontLine.size()), fontLine);
        return content.substr(fontLine.size());
    }

    TForm m_form{nullptr};
    TPdfDoc m_doc;
    std::vector<std::string> m_log;
};

TEST_F(PRLayoutTest, MarginsAndTheAlignedPanel)
{
    auto& page = Make<TPRPage>("PRPage1", &m_form);
    auto& panel = Make<TPRLayoutPanel>("PRLayoutPanel1", &page);
    panel.SetAlign(alClient);
    EXPECT_EQ(page.BoundsRect(), Rect(0, 0, 596, 842));
    EXPECT_EQ(panel.BoundsRect(), Bounds(33, 33, 530, 776));

    // Every margin is limited by half the width, the vertical ones too.
    page.SetMarginTop(300);
    EXPECT_EQ(page.MarginTop(), 32);
    page.SetMarginTop(297);
    EXPECT_EQ(page.MarginTop(), 297);
    page.SetMarginBottom(298);
    EXPECT_EQ(page.MarginBottom(), 32);
    page.SetMarginLeft(-1);
    EXPECT_EQ(page.MarginLeft(), 32);
    EXPECT_EQ(panel.BoundsRect(), Rect(33, 298, 563, 809));

    for (auto setter : {&TPRPage::SetMarginTop, &TPRPage::SetMarginLeft, &TPRPage::SetMarginRight,
                        &TPRPage::SetMarginBottom})
    {
        (page.*setter)(0);
    }
    EXPECT_EQ(panel.BoundsRect(), Rect(1, 1, 595, 841));
    page.SetBounds(0, 0, 800, 600);
    EXPECT_EQ(panel.BoundsRect(), Rect(1, 1, 799, 599));

    // On a page one unit wide not even 0 is smaller than half the width.
    auto& narrow = Make<TPRPage>("narrow", &m_form);
    narrow.SetWidth(1);
    narrow.SetMarginTop(0);
    narrow.SetMarginLeft(0);
    EXPECT_EQ(narrow.MarginTop(), 32);
    EXPECT_EQ(narrow.MarginLeft(), 32);
}

TEST_F(PRLayoutTest, ParentChecks)
{
    auto& page = Make<TPRPage>("page", &m_form);
    auto& panel = Make<TPRLayoutPanel>("panel", &page);
    auto& item = Make<TPRText>("text", &panel);

    ExpectThrowWithMessage<Exception>([&] { panel.SetParent(&m_form); },
                                      "TPRPage can not set on TForm");
    EXPECT_EQ(panel.Parent(), &page);
    auto& inner = Make<TPRPanel>("inner", &panel);
    panel.SetParent(nullptr);
    auto& nested = Make<TPRLayoutPanel>("nested", &inner);
    EXPECT_EQ(nested.Parent(), &inner);

    for (TWinControl* refused : std::initializer_list<TWinControl*>{&page, &m_form})
    {
        ExpectThrowWithMessage<Exception>([&] { item.SetParent(refused); },
                                          "this component must set on TPRPanel");
        EXPECT_EQ(item.Parent(), &panel);
    }
    EXPECT_EQ(item.GetReportPage(), nullptr); // the panel left the page
    panel.SetParent(&page);
    EXPECT_EQ(item.GetReportPage(), &page);
    EXPECT_EQ(nested.GetReportPage(), &page);
    EXPECT_EQ(item.GetMeasuringDocument(), &page.MeasuringDocument());
}

TEST_F(PRLayoutTest, PrintOrderAndPageRectangles)
{
    auto& page = Make<TPRPage>("page", &m_form);
    page.SetBounds(0, 0, 300, 100);
    auto& first = Make<TPRLayoutPanel>("first", &page);
    first.SetBounds(5, 5, 200, 90);
    auto& second = Make<TPRPanel>("second", &page);
    second.SetBounds(0, 0, 10, 10);
    // In the first panel a nested panel comes before an item in insertion order, yet the item
    // prints first.
    auto& nested = Make<TPRPanel>("nested", &first);
    nested.SetBounds(50, 40, 100, 50);
    Make<TProbeItem>("deep", &nested, &m_log).SetBounds(1, 2, 3, 4);
    Make<TProbeItem>("a", &first, &m_log).SetBounds(10, 20, 30, 40);
    Make<TProbeItem>("hidden", &first, &m_log).SetPrintable(false);
    Make<TProbeItem>("b", &second, &m_log).SetBounds(0, 0, 5, 5);
    first.SetBeforePrint([&](TPRPanel& sender, TPRCanvas&, const TRect& r) {
        m_log.push_back("before " + sender.Name() + " " + std::to_string(r.Left));
    });
    first.SetAfterPrint([&](TPRPanel& sender, TPRCanvas&, const TRect&) {
        m_log.push_back("after " + sender.Name());
    });
    page.SetOnPrintPage([&](TPRPage& sender, TPRCanvas& canvas) {
        canvas.PdfCanvas()->WriteContent("% page " + sender.Name() + "\n");
    });

    EXPECT_EQ(Print(page), "% page page\n% a\n% deep\n% b\n");
    EXPECT_EQ(m_log, (std::vector<std::string>{"before first 5", "a 15,25,45,65",
                                               "deep 56,47,59,51", "after first", "b 0,0,5,5"}));
    const TPdfArray* box = m_doc.GetCanvas()->GetPage().LookupArray("MediaBox");
    EXPECT_EQ(dynamic_cast<const TPdfNumber&>(*box->Item(2)).Value(), 300);
    EXPECT_EQ(dynamic_cast<const TPdfNumber&>(*box->Item(3)).Value(), 100);

    // A failing event stops the printing of the remaining children.
    m_log.clear();
    first.SetBeforePrint([](TPRPanel&, TPRCanvas&, const TRect&) { throw Exception("stop"); });
    EXPECT_THROW(Print(page), Exception);
    EXPECT_TRUE(m_log.empty());
}

TEST_F(PRLayoutTest, TextItemSettingsAndPrint)
{
    auto& page = Make<TPRPage>("page", &m_form);
    page.SetHeight(100);
    auto& panel = Make<TPRPanel>("panel", &page);
    panel.SetBounds(5, 5, 200, 90);
    auto& text = Make<TPRText>("text", &panel);
    text.SetBounds(10, 20, 150, 40);

    EXPECT_EQ(text.GetPdfFontName(), "Arial");
    EXPECT_EQ(text.FontSize(), 12);
    EXPECT_EQ(text.Leading(), 14);
    EXPECT_EQ(text.Font(), (TFont{"Arial", 9, false, false, clBlack, 0}));
    text.SetFontName(fnTimesRoman);
    text.SetFontBold(true);
    text.SetFontItalic(true);
    EXPECT_EQ(text.GetPdfFontName(), "Times-BoldItalic");
    text.SetFontBold(false);
    EXPECT_EQ(text.GetPdfFontName(), "Times-Italic");
    text.SetFontName(fnFixedWidth);
    EXPECT_EQ(text.GetPdfFontName(), "FixedWidth-Italic");
    EXPECT_EQ(text.Font().Name, "Courier New");
    text.SetFontItalic(false);

    ExpectThrowWithMessage<EPdfInvalidValue>([&] { text.SetFontColor(0x10000000); },
                                             "the color you selected is not allowed.");
    text.SetFontColor(-5); // a system colour
    text.SetFontColor(0x0000FF);
    EXPECT_EQ(text.FontColor(), 0x0000FF);
    text.SetFontSize(0);
    text.SetFontSize(-3);
    EXPECT_EQ(text.FontSize(), 12);
    text.SetFontSize(10); // 7.5 screen points: halves go to the even neighbour
    EXPECT_EQ(text.Font().Size, 8);
    text.SetFontSize(14);
    EXPECT_EQ(text.Font().Size, 10);
    text.SetWordSpace(-1);
    text.SetLeading(-1);
    text.SetCharSpace(-1);
    EXPECT_EQ(text.WordSpace(), 0);
    EXPECT_EQ(text.Leading(), 14);
    EXPECT_EQ(text.CharSpace(), -1);

    text.SetText("a\r\nb\nc\r");
    EXPECT_EQ(text.Lines(), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(text.Text(), "a\r\nb\r\nc");
    text.SetText("");
    EXPECT_TRUE(text.Lines().empty());
    text.SetLines({"   "});
    EXPECT_EQ(text.Text(), "");

    // Page top 25 is PDF 75; the first line sits 0.85 x 14 below it.
    EXPECT_EQ(Print(page), "/F1 14 Tf\n1 0 0 rg\n-1 Tc\n14 TL\nBT\n15 63.1 Td\nET\n");
    text.SetPrintable(false);
    EXPECT_EQ(Print(page), "");
}

TEST_F(PRLayoutTest, JpegItemStretchedAndClipped)
{
    auto& page = Make<TPRPage>("page", &m_form);
    page.SetHeight(200);
    auto& panel = Make<TPRPanel>("panel", &page);
    panel.SetBounds(0, 0, 596, 200);
    auto& image = Make<TPRJpegImage>("Img", &panel);
    image.SetBounds(10, 10, 100, 50);
    TPicture picture;
    picture.SetGraphic(MakeJpegImage(300, 300));
    image.SetPicture(&picture);

    EXPECT_EQ(Print(page), "q\n100 0 0 50 10 140 cm\n/Img Do\nQ\n");
    image.SetStretch(false);
    EXPECT_EQ(Print(page), "q\n10 140 100 50 re\nW\nn\n300 0 0 300 10 -110 cm\n/Img Do\nQ\n");
    // Shared: the one image of the document serves every page.
    Print(page);
    std::string pdf;
    {
        TMemoryStream stream;
        m_doc.SaveToStream(stream);
        pdf = stream.Bytes();
    }
    std::size_t images = 0;
    for (std::size_t at = pdf.find("/Subtype /Image"); at != std::string::npos;
         at = pdf.find("/Subtype /Image", at + 1))
    {
        ++images;
    }
    EXPECT_EQ(images, 1U);

    image.SetPrintable(false);
    EXPECT_EQ(Print(page), "");
}

TEST_F(PRLayoutTest, UnsharedImagesTakeFreeNumberedNames)
{
    auto& page = Make<TPRPage>("page", &m_form);
    auto& panel = Make<TPRPanel>("panel", &page);
    auto& jpeg = Make<TPRJpegImage>("J", &panel);
    auto& bitmap = Make<TPRImage>("B", &panel);
    jpeg.SetSharedImage(false);
    bitmap.SetSharedImage(false);
    jpeg.Picture().SetGraphic(MakeJpegImage(8, 8));
    bitmap.Picture().SetGraphic(std::make_unique<TBitmap>(4, 4, pf24bit));

    // The JPEG item draws afresh for every attempt; the bitmap item counts on from one draw,
    // wrapping after 65534.
    TScriptedRandom random({5, 65533, 5, 5, 7, 65533});
    ScopedRandom scoped(random);
    Print(page);
    Print(page);
    EXPECT_NE(m_doc.FindXObject("J5"), nullptr);
    EXPECT_NE(m_doc.FindXObject("B65533"), nullptr);
    EXPECT_NE(m_doc.FindXObject("J7"), nullptr);
    EXPECT_NE(m_doc.FindXObject("B65534"), nullptr);
    EXPECT_EQ(random.Ranges, (std::vector<std::int32_t>{65535, 65534, 65535, 65535, 65535, 65534}));
    Print(page); // the script now repeats its last value
    EXPECT_NE(m_doc.FindXObject("J65533"), nullptr);
    EXPECT_NE(m_doc.FindXObject("B0"), nullptr);

    // Every name taken: the JPEG item gives up after 65535 draws.
    bitmap.SetPrintable(false);
    TScriptedRandom stuck({5});
    ScopedRandom scopedStuck(stuck);
    ExpectThrowWithMessage<Exception>([&] { Print(page); }, "image count over max value..");
    EXPECT_EQ(stuck.Ranges.size(), 65535U);
}

TEST_F(PRLayoutTest, PictureSettersAcceptOnlyTheirKind)
{
    auto& page = Make<TPRPage>("page", &m_form);
    auto& panel = Make<TPRPanel>("panel", &page);
    auto& jpeg = Make<TPRJpegImage>("J", &panel);
    auto& bitmap = Make<TPRImage>("B", &panel);
    TPicture jpegPicture;
    jpegPicture.SetGraphic(MakeJpegImage(8, 8));
    TPicture bitmapPicture;
    bitmapPicture.SetGraphic(std::make_unique<TBitmap>(2, 2, pf24bit));

    ExpectThrowWithMessage<Exception>([&] { bitmap.SetPicture(&jpegPicture); },
                                      "only bitmap image is allowed.");
    ExpectThrowWithMessage<Exception>([&] { jpeg.SetPicture(&bitmapPicture); },
                                      "only jpeg image is allowed.");
    EXPECT_EQ(jpeg.Picture().Graphic(), nullptr);
    jpeg.SetPicture(&jpegPicture);
    bitmap.SetPicture(&bitmapPicture);
    EXPECT_NE(jpeg.Picture().Graphic(), jpegPicture.Graphic()); // a copy
    bitmap.SetPicture(nullptr);
    EXPECT_EQ(bitmap.Picture().Graphic(), nullptr);
    bitmap.SetPicture(&bitmapPicture);

    // Content of the wrong kind put in directly prints nothing; a bitmap prints as a bitmap.
    jpeg.Picture().SetGraphic(std::make_unique<TBitmap>(2, 2, pf24bit));
    EXPECT_EQ(Print(page), "q\n100 0 0 30 0 812 cm\n/B Do\nQ\n");
    bitmap.Picture().SetGraphic(MakeJpegImage(8, 8));
    EXPECT_EQ(Print(page), "");
}

TEST_F(PRLayoutTest, DesignViewLook)
{
    auto& page = Make<TPRPage>("PRPage1", &m_form);
    auto& panel = Make<TPRLayoutPanel>("PRLayoutPanel1", &page);
    panel.SetAlign(alClient);
    auto& image = Make<TPRJpegImage>("PRJpegImage1", &panel);
    image.SetBounds(10, 10, 50, 40);
    auto& text = Make<TPRText>("PRText1", &panel);
    text.SetBounds(100, 10, 200, 100);
    text.SetText("ab cd");
    text.SetCharSpace(1);

    TRecordingPainter painter;
    page.Paint(painter);
    EXPECT_EQ(painter.Calls.at(0), "fill 0,0 596,842 ffffff");
    // 378 units per 10 cm: dotted every 5 mm, solid every centimetre.
    EXPECT_EQ(painter.Calls.at(1), "line 18,0 18,842 c0c0c0 dot");
    EXPECT_EQ(painter.Calls.at(2), "line 37,0 37,842 c0c0c0 solid");
    const auto texts = painter.Starting("text ");
    EXPECT_EQ(texts.at(0), "text 1,1 \"0\" Arial 8 c0c0c0");
    EXPECT_EQ(texts.at(1), "text 38,1 \"1\" Arial 8 c0c0c0");
    EXPECT_EQ(texts.back(), "text 4,4 \"PRPage1\" Arial 8 000000");

    // The panel at (33, 33) continues the page's grid.
    painter.Calls.clear();
    panel.Paint(painter);
    EXPECT_EQ(painter.Calls.at(1), "line 4,0 4,776 c0c0c0 solid");
    EXPECT_EQ(painter.Starting("text "),
              (std::vector<std::string>{"text 2,2 \"PRLayoutPanel1\" Arial 8 000000"}));
    EXPECT_EQ(painter.Calls.back(), "frame 0,0 530,776 008000 dot");

    painter.Calls.clear();
    image.Paint(painter);
    EXPECT_EQ(painter.Calls, (std::vector<std::string>{"text 4,4 \"PRJpegImage1\" Arial 8 000000",
                                                       "frame 0,0 50,40 ff0000 dot"}));
    image.Picture().SetGraphic(MakeJpegImage(20, 10));
    image.SetStretch(false);
    painter.Calls.clear();
    image.Paint(painter);
    EXPECT_EQ(painter.Calls, (std::vector<std::string>{"graphic 0,0 20,10 20x10"}));

    // Character by character with the spacing: Arial 12 advances a and b 6.67, the space 3.34,
    // c 6, each plus the character spacing 1.
    painter.Calls.clear();
    text.Paint(painter);
    EXPECT_EQ(painter.Calls,
              (std::vector<std::string>{
                  "text 0,0 \"a\" Arial 9 000000", "text 7,0 \"b\" Arial 9 000000",
                  "text 15,0 \" \" Arial 9 000000", "text 19,0 \"c\" Arial 9 000000",
                  "text 26,0 \"d\" Arial 9 000000", "frame 0,0 200,100 800000 dot"}));

    // A size the PDF canvas refuses leaves the frame alone; painting never fails.
    text.SetFontSize(400);
    painter.Calls.clear();
    text.Paint(painter);
    EXPECT_EQ(painter.Calls, (std::vector<std::string>{"frame 0,0 200,100 800000 dot"}));
}

} // namespace
