#include <regex>

#include <gtest/gtest.h>

#include "app/convert/ConverterComponents.h"
#include "report/PRJpegImage.h"
#include "report/PReport.h"
#include "tests/report/ReportTestSupport.h"
#include "tests/support/TestSupport.h"

// The converter's page as the report writes it: the components the run uses, laid out by the
// run's own step.

namespace
{

const TDateTime kNow = EncodeDateTime(2024, 3, 7, 14, 5, 9);

// One picture's page, as the run prints it.
void PrintPicture(const TConverterComponents& components, const TJPEGImage& jpeg)
{
    components.PlacePicture(std::make_unique<TJPEGImage>(jpeg));
    components.PReport1.PrintPage(components.PRPage1);
}

TEST(ConverterPageTest, ComponentsHaveTheirDesignTimeSettings)
{
    TForm form(nullptr);
    const TConverterComponents components = CreateConverterComponents(form);
    EXPECT_EQ(components.PReport1.FileName(), "default.pdf");
    EXPECT_FALSE(components.PReport1.UseOutlines());
    EXPECT_TRUE(components.PReport1.ViewerPreference().Empty());
    EXPECT_FALSE(components.PRPage1.Visible());
    EXPECT_EQ(components.PRPage1.BoundsRect(), Rect(0, 0, 596, 842));
    EXPECT_EQ(components.PRPage1.MarginTop(), 32);
    EXPECT_EQ(components.PRPage1.MarginBottom(), 32);
    // Filling the page inside the margins, one unit further in.
    EXPECT_EQ(components.PRLayoutPanel1.Parent(), &components.PRPage1);
    EXPECT_EQ(components.PRLayoutPanel1.BoundsRect(), Bounds(33, 33, 530, 776));
    EXPECT_EQ(components.PRJpegImage1.Parent(), &components.PRLayoutPanel1);
    EXPECT_FALSE(components.PRJpegImage1.SharedImage());
    EXPECT_FALSE(components.PRJpegImage1.Stretch());
    EXPECT_EQ(components.PRText1.Parent(), &components.PRLayoutPanel1);
    EXPECT_EQ(components.PRText1.BoundsRect(), Bounds(16, 32, 513, 89));
    EXPECT_EQ(components.PRText1.GetPdfFontName(), "Arial-Bold");
    EXPECT_EQ(components.PRText1.FontSize(), 20);
    EXPECT_EQ(components.PRText1.FontColor(), clRed);
    EXPECT_EQ(components.PRText1.Leading(), 14);
}

TEST(ConverterPageTest, WrittenAsTheWorkedExampleSays)
{
    ScopedClock clock(kNow);
    ScopedTZ tz("UTC0");
    TTempDir dir;
    TForm form(nullptr);
    const TConverterComponents components = CreateConverterComponents(form);
    TPReport& report = components.PReport1;
    report.SetFileName(dir.File("out.pdf"));
    report.SetTitle("T");
    report.SetAuthor("A");
    report.SetSubject("S");
    report.SetKeywords("K");
    report.SetCreationDate(EncodeDateTime(2024, 1, 2, 3, 4, 5));
    report.SetModDate(EncodeDateTime(2024, 6, 7, 8, 9, 10));
    report.SetCreator("Kestrom Pictova");
    report.SetProducer("Kestrom Pictova");
    const auto jpeg = MakeJpegImage(800, 600);
    ASSERT_EQ(jpeg->Width(), 800);

    // The item draws its name's number right away; find out which one it will be.
    ScopedRandomSeed seed(4711);
    const std::string name = "PRJpegImage1" + std::to_string(Random().Next(65535));
    Random().Seed(4711);

    // As the run does: one empty line, so the text item prints but shows nothing.
    components.PRText1.SetLines({""});
    report.StartDocument();
    PrintPicture(components, *jpeg);
    report.EndDocument();
    const std::string pdf = ReadFileBytes(dir.File("out.pdf"));

    EXPECT_EQ(pdf.substr(0, 11), "%PDF-1.2 \r\n");
    EXPECT_EQ(ObjectBody(pdf, 1), "<<\r\n/Type /Catalog\r\n/Pages 3 0 R\r\n/PageMode /UseNone\r\n"
                                  "/PageLayout /SinglePage\r\n>>");
    EXPECT_EQ(ObjectBody(pdf, 2), "<<\r\n/Producer (Kestrom Pictova)\r\n/Author (A)\r\n"
                                  "/CreationDate (D:20240102030405-00'00')\r\n"
                                  "/Creator (Kestrom Pictova)\r\n/Keywords (K)\r\n"
                                  "/ModDate (D:20240607080910-00'00')\r\n/Subject (S)\r\n"
                                  "/Title (T)\r\n>>");
    EXPECT_EQ(ObjectBody(pdf, 3), "<<\r\n/Type /Pages\r\n/Kids [4 0 R ]\r\n/Count 1\r\n>>");
    EXPECT_EQ(ObjectBody(pdf, 4),
              "<<\r\n/Type /Page\r\n/Parent 3 0 R\r\n/MediaBox [0 0 800 600 ]\r\n"
              "/Resources <<\r\n/Font <<\r\n/F0 6 0 R\r\n/F1 8 0 R\r\n>>\r\n"
              "/XObject <<\r\n/" +
                  name +
                  " 7 0 R\r\n>>\r\n/ProcSet [/PDF /Text /ImageC ]\r\n>>\r\n"
                  "/Contents 5 0 R\r\n>>");
    const std::string content = "/F0 10 Tf\nq\n0 0 800 600 re\nW\nn\n800 0 0 600 0 0 cm\n/" + name +
                                " Do\nQ\n/F1 20 Tf\n1 0 0 rg\n14 TL\nBT\n17 550 Td\nET\n";
    EXPECT_EQ(StreamData(ObjectBody(pdf, 5)), content);
    EXPECT_EQ(
        ObjectBody(pdf, 5).rfind("<<\r\n/Length " + std::to_string(content.size()) + "\r\n", 0),
        0U);
    EXPECT_NE(ObjectBody(pdf, 6).find("/BaseFont /Helvetica\r\n/Name /F0\r\n"), std::string::npos);
    EXPECT_NE(ObjectBody(pdf, 8).find("/BaseFont /Helvetica-Bold\r\n/Name /F1\r\n"),
              std::string::npos);

    const std::string image = ObjectBody(pdf, 7);
    EXPECT_EQ(image.substr(0, image.find("\r\nstream\r\n")),
              "<<\r\n/Length " + std::to_string(jpeg->Data().size()) +
                  "\r\n/Filter [/DCTDecode ]\r\n/Type /XObject\r\n/Subtype /Image\r\n"
                  "/ColorSpace /DeviceRGB\r\n/Width 800\r\n/Height 600\r\n/BitsPerComponent 8\r\n"
                  "/Name /" +
                  name + "\r\n>>");
    EXPECT_TRUE(StreamData(image) == jpeg->Data()) << "the JPEG bytes are not embedded unchanged";
    EXPECT_NE(pdf.find("trailer\r\n<<\r\n/Size 9\r\n/Root 1 0 R\r\n/Info 2 0 R\r\n>>"),
              std::string::npos);
    std::string output;
    EXPECT_TRUE(QpdfCheckPasses(dir.File("out.pdf"), &output)) << output;
}

TEST(ConverterPageTest, ThreePagesOfDifferentSizes)
{
    TTempDir dir;
    TForm form(nullptr);
    const TConverterComponents components = CreateConverterComponents(form);
    components.PRText1.SetLines({""});
    components.PReport1.SetFileName(dir.File("three.pdf"));
    components.PReport1.StartDocument();
    for (const auto& [w, h] : {std::pair{320, 200}, std::pair{64, 480}, std::pair{150, 150}})
    {
        PrintPicture(components, *MakeJpegImage(w, h));
    }
    EXPECT_EQ(components.PReport1.PageCount(), 3);
    components.PReport1.EndDocument();

    const std::string path = dir.File("three.pdf");
    std::string output;
    EXPECT_TRUE(QpdfCheckPasses(path, &output)) << output;
    EXPECT_TRUE(PdftoppmRenders(path, &output)) << output;
    ASSERT_EQ(RunCommand("pdfinfo -f 1 -l 3 -box '" + path + "'", &output), 0) << output;
    for (const char* box : {R"(Page +1 MediaBox: +0\.00 +0\.00 +320\.00 +200\.00)",
                            R"(Page +2 MediaBox: +0\.00 +0\.00 +64\.00 +480\.00)",
                            R"(Page +3 MediaBox: +0\.00 +0\.00 +150\.00 +150\.00)"})
    {
        EXPECT_TRUE(std::regex_search(output, std::regex(box))) << box << "\n" << output;
    }
}

} // namespace
