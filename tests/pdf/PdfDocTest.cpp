#include "pdf/PdfDoc.h"

#include <functional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "PdfTestUtil.h"
#include "tests/support/TestSupport.h"

using ::testing::HasSubstr;

namespace
{

// The document tests run on a fixed clock in UTC.
class PdfDocTest : public ::testing::Test
{
protected:
    ScopedClock m_clock{EncodeDateTime(2024, 3, 7, 14, 5, 9)};
    ScopedTZ m_zone{"UTC0"};
    ScopedCodePage m_codePage{Windows1252CodePage()};
};

std::string Saved(TPdfDoc& doc)
{
    TMemoryStream out;
    doc.SaveToStream(out);
    return out.Bytes();
}

std::string Body(TPdfDoc& doc, int number)
{
    TMemoryStream out;
    doc.Xref()->ObjectAt(number)->WriteBody(out);
    return out.Bytes();
}

std::unique_ptr<TPdfImage> GreyImage()
{
    auto image = std::make_unique<TPdfImage>(nullptr);
    TPdfDictionary& attributes = image->Attributes();
    attributes.Put("Type", std::make_unique<TPdfName>("XObject"));
    attributes.Put("Subtype", std::make_unique<TPdfName>("Image"));
    attributes.Put("ColorSpace", std::make_unique<TPdfName>("DeviceGray"));
    attributes.Put("Width", std::make_unique<TPdfNumber>(2));
    attributes.Put("Height", std::make_unique<TPdfNumber>(2));
    attributes.Put("BitsPerComponent", std::make_unique<TPdfNumber>(8));
    image->Data().Write(std::string("\x00\x80\xC0\xFF", 4));
    return image;
}

TEST_F(PdfDocTest, OnePageDocumentIsWrittenByteForByte)
{
    TPdfDoc doc;
    doc.SetProducer("Kestrom Pictova");
    doc.NewDocument();
    doc.AddPage();
    const std::string actual = Saved(doc);

    // The expected file, with its offsets counted here rather than taken from the writer.
    const std::vector<std::string> bodies = {
        "<<\r\n/Type /Catalog\r\n/Pages 3 0 R\r\n>>",
        "<<\r\n/Producer (Kestrom Pictova)\r\n/CreationDate (D:20240307140509-00'00')\r\n>>",
        "<<\r\n/Type /Pages\r\n/Kids [4 0 R ]\r\n/Count 1\r\n>>",
        "<<\r\n/Type /Page\r\n/Parent 3 0 R\r\n/MediaBox [0 0 596 842 ]\r\n/Resources "
        "<<\r\n/Font <<\r\n/F0 6 0 R\r\n>>\r\n/XObject <<\r\n>>\r\n/ProcSet [/PDF /Text "
        "/ImageC ]\r\n>>\r\n/Contents 5 0 R\r\n>>",
        "<<\r\n/Length 10\r\n/Filter []\r\n>>\r\nstream\r\n/F0 10 Tf\n\nendstream",
        "<<\r\n/Type /Font\r\n/Subtype /Type1\r\n/Encoding /WinAnsiEncoding\r\n/FirstChar "
        "32\r\n/LastChar 255\r\n/BaseFont /Helvetica\r\n/Name /F0\r\n>>",
    };
    std::string expected = "%PDF-1.2 \r\n";
    std::string xref = "xref\r\n0 7\r\n0000000000 65535 f\r\n";
    for (std::size_t i = 0; i < bodies.size(); ++i)
    {
        std::string offset = std::to_string(expected.size());
        xref += std::string(10 - offset.size(), '0') + offset + " 00000 n\r\n";
        expected += std::to_string(i + 1) + " 0 obj\r\n" + bodies[i] + "\r\nendobj\r\n";
    }
    const std::string startxref = std::to_string(expected.size());
    expected += xref;
    expected += "trailer\r\n<<\r\n/Size 7\r\n/Root 1 0 R\r\n/Info 2 0 R\r\n>>\r\nstartxref\r\n" +
                startxref + "\r\n%%EOF\r\n";

    EXPECT_EQ(FirstDifference(actual, expected), -1);
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(doc.Xref()->Item(1).ByteOffset(), 11);

    TTempDir dir;
    WriteFileBytes(dir.File("one.pdf"), actual);
    std::string output;
    EXPECT_TRUE(QpdfCheckPasses(dir.File("one.pdf"), &output)) << output;
    EXPECT_TRUE(PdftoppmRenders(dir.File("one.pdf"), &output)) << output;

    // Saving again gives the same bytes.
    EXPECT_EQ(Saved(doc), expected);
}

TEST_F(PdfDocTest, OutlinesTakeNumberTwo)
{
    TPdfDoc doc;
    doc.SetUseOutlines(true);
    doc.NewDocument();
    doc.AddPage();
    EXPECT_EQ(doc.GetOutlineRoot()->Dictionary(), doc.Xref()->ObjectAt(2));
    EXPECT_EQ(doc.GetInfo()->Dictionary(), doc.Xref()->ObjectAt(3));
    EXPECT_EQ(Body(doc, 1), "<<\r\n/Type /Catalog\r\n/Outlines 2 0 R\r\n/Pages 4 0 R\r\n>>");
    const std::string file = Saved(doc);
    EXPECT_EQ(Body(doc, 2), "<<\r\n/Type /Outlines\r\n/Count 0\r\n>>");
    EXPECT_THAT(file, HasSubstr("/Kids [5 0 R ]"));
    EXPECT_THAT(file, HasSubstr("/Size 8\r\n"));

    TTempDir dir;
    WriteFileBytes(dir.File("outlines.pdf"), file);
    std::string output;
    EXPECT_TRUE(QpdfCheckPasses(dir.File("outlines.pdf"), &output)) << output;

    TPdfDoc plain;
    plain.NewDocument();
    ExpectThrowWithMessage<EPdfInvalidOperation>([&] { plain.GetOutlineRoot(); },
                                                 "GetOutlineRoot --not use outline mode..");
    // The flag counts at the next NewDocument only; a save must not reach for a missing root.
    plain.SetUseOutlines(true);
    plain.AddPage();
    EXPECT_NO_THROW(Saved(plain));
}

TEST_F(PdfDocTest, PagesHangUnderOneNodeInOrder)
{
    TPdfDoc doc;
    doc.NewDocument();
    doc.AddPage();
    doc.AddPage();
    doc.AddPage();
    // Page and contents pairs follow the default font (6) after the first page.
    EXPECT_EQ(Body(doc, 3), "<<\r\n/Type /Pages\r\n/Kids [4 0 R 7 0 R 9 0 R ]\r\n/Count 3\r\n>>");
    EXPECT_THAT(Body(doc, 9), HasSubstr("/MediaBox [0 0 596 842 ]"));
    EXPECT_THAT(Body(doc, 9), HasSubstr("/Contents 10 0 R"));
    EXPECT_EQ(doc.GetCanvas()->Page(), doc.Xref()->ObjectAt(9));
    EXPECT_EQ(doc.GetCanvas()->Contents()->Data().Bytes(), "/F0 10 Tf\n");
}

TEST_F(PdfDocTest, FontsAreMadeOncePerNameAndNamedInOrder)
{
    TPdfDoc doc;
    doc.NewDocument();
    doc.AddPage();
    TPdfFont* times = doc.GetFont("Times-Roman");
    EXPECT_EQ(doc.GetFont("Times-Roman"), times);
    EXPECT_EQ(doc.GetFont("Arial"), doc.GetCanvas()->Attribute().Font());
    EXPECT_EQ(times->Dictionary()->LookupName("Name")->Value(), "F1");
    EXPECT_EQ(times->Dictionary()->ObjectNumber(), 7);
    // Registry look-ups ignore case, the document's own list does not.
    TPdfFont* lower = doc.GetFont("times-roman");
    EXPECT_NE(lower, times);
    EXPECT_EQ(lower->Dictionary()->LookupName("Name")->Value(), "F2");

    ExpectThrowWithMessage<Exception>([&] { doc.GetFont("Helvetica"); },
                                      "CreateFont --InvalidFontName:Helvetica");
}

TEST_F(PdfDocTest, ImagesAreNumberedAndRegisteredOnce)
{
    TPdfDoc doc;
    doc.NewDocument();
    doc.AddPage();
    TPdfImage& image = doc.AddImage("Image1", GreyImage());
    EXPECT_EQ(image.ObjectNumber(), 7);
    EXPECT_EQ(doc.FindXObject("Image1"), &image);
    EXPECT_EQ(doc.FindXObject("image1"), nullptr);
    EXPECT_EQ(Inline(image.Attributes()).substr(0, 34), "<<\r\n/Length 0\r\n/Filter []\r\n/Type /");
    EXPECT_THAT(Inline(image.Attributes()),
                HasSubstr("/BitsPerComponent 8\r\n/Name /Image1\r\n>>"));

    ExpectThrowWithMessage<Exception>([&] { doc.AddImage("Image1", GreyImage()); },
                                      "AddImage --the image named Image1 is already exists..");
    auto notAnImage = GreyImage();
    notAnImage->Attributes().Remove("Subtype");
    ExpectThrowWithMessage<Exception>([&] { doc.AddImage("Image2", std::move(notAnImage)); },
                                      "AddImage --the image is not valid TPdfImage..");
    ExpectThrowWithMessage<Exception>([&] { doc.AddImage("Image2", nullptr); },
                                      "AddImage --the image is not valid TPdfImage..");

    // Registering an object that already has a name does nothing.
    EXPECT_NO_THROW(doc.RegisterXObject(image, "Other"));
    EXPECT_EQ(doc.FindXObject("Other"), nullptr);

    ExpectThrowWithMessage<EPdfInvalidValue>([&] { doc.RegisterXObject(nullptr, "X"); },
                                             "RegisterXObject --AObject is null");
    auto form = std::make_unique<TPdfXObject>(nullptr);
    form->Attributes().Put("Type", std::make_unique<TPdfName>("Page"));
    ExpectThrowWithMessage<EPdfInvalidValue>([&] { doc.RegisterXObject(std::move(form), "X"); },
                                             "RegisterXObject --not XObject");
    auto duplicate = GreyImage();
    ExpectThrowWithMessage<EPdfInvalidValue>(
        [&] { doc.RegisterXObject(std::move(duplicate), "Image1"); },
        "RegisterXObject --dupulicate name: Image1");
    TPdfImage loose(nullptr);
    loose.Attributes().Put("Type", std::make_unique<TPdfName>("XObject"));
    EXPECT_THROW(doc.RegisterXObject(loose, "Loose"), EPdfInvalidOperation);
}

TEST_F(PdfDocTest, ClosedDocumentsRefuseEveryAccess)
{
    TPdfDoc doc;
    ExpectThrowWithMessage<EPdfInvalidOperation>([&] { doc.GetCanvas(); },
                                                 "GetCanvas --Document is null");
    ExpectThrowWithMessage<EPdfInvalidOperation>([&] { doc.GetInfo(); },
                                                 "GetInfo --this method can not use this state..");
    ExpectThrowWithMessage<EPdfInvalidOperation>([&] { doc.GetRoot(); },
                                                 "GetRoot --this method can not use this state..");
    ExpectThrowWithMessage<EPdfInvalidOperation>([&] { doc.GetOutlineRoot(); },
                                                 "GetOutlineRoot --document is null..");
    ExpectThrowWithMessage<EPdfInvalidOperation>([&] { doc.GetFont("Arial"); },
                                                 "GetFont --document is null.");
    ExpectThrowWithMessage<EPdfInvalidOperation>([&] { doc.AddPage(); },
                                                 "AddPage --current pages null.");
    // The operations that number objects have no table to number them in.
    ExpectThrowWithMessage<EPdfInvalidOperation>([&] { doc.CreateFont("Arial"); },
                                                 "CreateFont --document is null.");
    ExpectThrowWithMessage<EPdfInvalidOperation>([&] { doc.AddImage("Image1", GreyImage()); },
                                                 "AddImage --document is null.");
    auto form = std::make_unique<TPdfXObject>(nullptr);
    form->Attributes().Put("Type", std::make_unique<TPdfName>("XObject"));
    ExpectThrowWithMessage<EPdfInvalidOperation>(
        [&] { doc.RegisterXObject(std::move(form), "Form1"); },
        "RegisterXObject --document is null.");
    TMemoryStream out;
    ExpectThrowWithMessage<EPdfInvalidOperation>([&] { doc.SaveToStream(out); },
                                                 "SaveToStream --there is no document to save.");
    doc.NewDocument();
    ExpectThrowWithMessage<EPdfInvalidOperation>([&] { doc.SaveToStream(out); },
                                                 "SaveToStream --there is no document to save.");
    EXPECT_EQ(out.Size(), 0);
}

TEST_F(PdfDocTest, EmptyProducerIsAnEmptyString)
{
    TPdfDoc doc;
    doc.NewDocument();
    EXPECT_EQ(Body(doc, 2), "<<\r\n/Producer ()\r\n/CreationDate (D:20240307140509-00'00')\r\n>>");
}

TEST_F(PdfDocTest, ReopeningDiscardsTheDocumentAndDetachesTheCanvas)
{
    TPdfDoc doc;
    doc.NewDocument();
    doc.AddPage();
    doc.AddImage("Image1", GreyImage());
    doc.CloseDocument();
    EXPECT_FALSE(doc.IsOpen());
    doc.CloseDocument();

    doc.NewDocument();
    TPdfCanvas* canvas = doc.GetCanvas();
    EXPECT_EQ(canvas->Page(), nullptr);
    EXPECT_EQ(canvas->Contents(), nullptr);
    EXPECT_EQ(canvas->Attribute().Font(), nullptr);
    EXPECT_EQ(doc.FindXObject("Image1"), nullptr);
    doc.AddPage();
    EXPECT_EQ(doc.GetCanvas()->Page()->ObjectNumber(), 4);
    EXPECT_THAT(Body(doc, 6), HasSubstr("/Name /F0\r\n"));

    // Opening again without closing first discards too.
    doc.NewDocument();
    EXPECT_EQ(doc.Xref()->ItemCount(), 4);
    EXPECT_EQ(doc.GetCanvas()->Page(), nullptr);
}

TEST_F(PdfDocTest, MeasuringDocumentWritesOnlyTheDefaultFontLine)
{
    TPdfDoc doc;
    doc.OpenMeasuringDocument();
    TPdfCanvas& canvas = *doc.GetCanvas();
    EXPECT_TRUE(canvas.MeasureOnly());
    canvas.SetFont("Times-Bold", 20);
    canvas.BeginText();
    canvas.ShowText("nothing");
    canvas.SetCharSpace(2);
    EXPECT_EQ(canvas.Contents()->Data().Bytes(), "/F0 10 Tf\n");
    EXPECT_EQ(canvas.Attribute().Font()->Name(), "Times-Bold");
    EXPECT_EQ(canvas.Attribute().FontSize(), 20);
    EXPECT_NE(GetPageResource(canvas.GetPage(), "Font")->Lookup("F1"), nullptr);
}

TEST_F(PdfDocTest, OffsetsBeyondFourGigabytesUseAllTenDigits)
{
    TPdfDoc doc;
    doc.NewDocument();
    doc.AddPage();
    TOffsetCountingStream big(3'221'225'472);
    doc.SaveToStream(big);
    EXPECT_EQ(doc.Xref()->Item(1).ByteOffset(), 3'221'225'483);
    EXPECT_EQ(doc.Xref()->Item(1).AsString(), "3221225483 00000 n");
    EXPECT_GT(doc.Xref()->Item(6).ByteOffset(), 3'221'225'483);

    TOffsetCountingStream tooBig(9'999'999'990);
    ExpectThrowWithMessage<EPdfInvalidOperation>([&] { doc.SaveToStream(tooBig); },
                                                 "SaveToStream --file too large.");
}

TEST_F(PdfDocTest, SavingAgainIntoTheSameStreamRewritesItFromTheStart)
{
    TPdfDoc doc;
    doc.NewDocument();
    doc.AddPage();
    TMemoryStream once;
    doc.SaveToStream(once);
    TMemoryStream twice;
    doc.SaveToStream(twice);
    doc.SaveToStream(twice);
    EXPECT_EQ(twice.Bytes(), once.Bytes());
    EXPECT_EQ(doc.Xref()->Item(1).ByteOffset(), 11);
}

TEST_F(PdfDocTest, StreamFailuresReachTheCaller)
{
    TPdfDoc doc;
    doc.NewDocument();
    doc.AddPage();
    TFailingStream disk(100);
    EXPECT_THROW(doc.SaveToStream(disk), EFileError);
    EXPECT_TRUE(doc.IsOpen());
    // Nothing was lost: the document saves in full afterwards.
    EXPECT_THAT(Saved(doc), HasSubstr("%%EOF\r\n"));
}

TEST(PdfPageTree, AddKidCountsAndResourcesAreFound)
{
    TPdfXref xref;
    auto& node = xref.Add(std::make_unique<TPdfDictionary>(&xref));
    node.Put("Kids", std::make_unique<TPdfArray>(&xref));
    node.Put("Count", std::make_unique<TPdfNumber>(0));
    auto& kid = xref.Add(std::make_unique<TPdfDictionary>(&xref));
    AddKid(node, kid);
    AddKid(node, kid);
    EXPECT_EQ(Inline(node), "<<\r\n/Kids [2 0 R 2 0 R ]\r\n/Count 2\r\n>>");

    EXPECT_EQ(GetPageResource(kid, "Font"), nullptr);
    auto& resources =
        static_cast<TPdfDictionary&>(kid.Put("Resources", std::make_unique<TPdfDictionary>(&xref)));
    auto& fonts = resources.Put("Font", std::make_unique<TPdfDictionary>(&xref));
    EXPECT_EQ(GetPageResource(kid, "Font"), &fonts);
    EXPECT_EQ(GetPageResource(kid, "XObject"), nullptr);
}

} // namespace
