// Whole documents written to disk and read back by outside tools: qpdf must find no fault,
// poppler must render every page, list every font and extract the text, and the pictures must
// come out in their own colours.

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <turbojpeg.h>

#include <gtest/gtest.h>

#include "pdf/PdfCanvas.h"
#include "pdf/PdfDoc.h"
#include "pdf/PdfImages.h"
#include "platform/Graphics.h"
#include "tests/support/TestSupport.h"

namespace
{

struct Rgb
{
    int Red;
    int Green;
    int Blue;
};

// A JPEG of one colour made with TurboJPEG; pixel holds one sample per component in the
// pixel format's order.
std::string SolidJpeg(int width, int height, TJPF format, int subsampling,
                      const std::vector<unsigned char>& pixel)
{
    std::vector<unsigned char> pixels;
    for (int i = 0; i < width * height; ++i)
    {
        pixels.insert(pixels.end(), pixel.begin(), pixel.end());
    }
    tjhandle handle = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const int status = tjCompress2(handle, pixels.data(), width, 0, height, format, &jpeg, &size,
                                   subsampling, 95, 0);
    std::string bytes = status == 0 ? std::string(reinterpret_cast<const char*>(jpeg), size) : "";
    tjFree(jpeg);
    tjDestroy(handle);
    return bytes;
}

std::unique_ptr<TPdfImage> JpegImage(const std::string& bytes)
{
    TJPEGImage jpeg;
    jpeg.SetData(bytes);
    return CreatePdfImage(jpeg, "Pdf-Jpeg");
}

// Left half palette index 1, right half index 2.
TBitmap IndexedBitmap(int width, int height, Rgb left, Rgb right)
{
    TBitmap bitmap(width, height, pf8bit);
    auto entry = [](Rgb c) {
        return TPaletteEntry{static_cast<std::uint8_t>(c.Red), static_cast<std::uint8_t>(c.Green),
                             static_cast<std::uint8_t>(c.Blue), 0};
    };
    bitmap.SetPalette({TPaletteEntry{}, entry(left), entry(right)});
    for (int y = 0; y < height; ++y)
    {
        std::uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < width; ++x)
        {
            row[x] = x < width / 2 ? 1 : 2;
        }
    }
    return bitmap;
}

TBitmap DirectBitmap(int width, int height, Rgb colour)
{
    TBitmap bitmap(width, height, pf24bit);
    for (int y = 0; y < height; ++y)
    {
        std::uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < width; ++x)
        {
            row[3 * x] = static_cast<std::uint8_t>(colour.Blue);
            row[3 * x + 1] = static_cast<std::uint8_t>(colour.Green);
            row[3 * x + 2] = static_cast<std::uint8_t>(colour.Red);
        }
    }
    return bitmap;
}

std::string Quoted(const std::string& path)
{
    return "'" + path + "'";
}

// The pixels of one page rendered at 72 dpi, so one point is one pixel.
class RenderedPage
{
public:
    RenderedPage(const std::string& pdf, int page, const TTempDir& dir)
    {
        const std::string base = dir.File("page" + std::to_string(page));
        const std::string n = std::to_string(page);
        m_ok = RunCommand("pdftoppm -r 72 -singlefile -f " + n + " -l " + n + " " + Quoted(pdf) +
                              " " + Quoted(base),
                          &m_output) == 0;
        m_ok = m_ok && Parse(ReadFileBytes(base + ".ppm"));
    }
    bool Ok() const { return m_ok; }
    const std::string& Output() const { return m_output; } // pdftoppm's messages
    Rgb At(int x, int y) const
    {
        const std::size_t i = (static_cast<std::size_t>(y) * static_cast<std::size_t>(m_width) +
                               static_cast<std::size_t>(x)) *
                              3;
        return {static_cast<unsigned char>(m_pixels[i]),
                static_cast<unsigned char>(m_pixels[i + 1]),
                static_cast<unsigned char>(m_pixels[i + 2])};
    }
    int Width() const { return m_width; }
    int Height() const { return m_height; }

private:
    // "P6 width height 255" with single whitespace between fields, then the samples.
    bool Parse(const std::string& ppm)
    {
        std::size_t pos = 0;
        std::vector<int> fields;
        if (ppm.compare(0, 2, "P6") != 0)
        {
            return false;
        }
        pos = 2;
        while (fields.size() < 3 && pos < ppm.size())
        {
            while (pos < ppm.size() && std::isspace(static_cast<unsigned char>(ppm[pos])))
            {
                ++pos;
            }
            std::size_t end = pos;
            while (end < ppm.size() && std::isdigit(static_cast<unsigned char>(ppm[end])))
            {
                ++end;
            }
            fields.push_back(std::atoi(ppm.substr(pos, end - pos).c_str()));
            pos = end;
        }
        if (fields.size() != 3 || fields[2] != 255)
        {
            return false;
        }
        m_width = fields[0];
        m_height = fields[1];
        m_pixels = ppm.substr(pos + 1);
        return m_pixels.size() ==
               static_cast<std::size_t>(m_width) * static_cast<std::size_t>(m_height) * 3;
    }

    bool m_ok = false;
    std::string m_output;
    int m_width = 0;
    int m_height = 0;
    std::string m_pixels;
};

constexpr const char* kFonts[] = {
    "FixedWidth",  "FixedWidth-Bold", "FixedWidth-Italic", "FixedWidth-BoldItalic",
    "Arial",       "Arial-Bold",      "Arial-Italic",      "Arial-BoldItalic",
    "Times-Roman", "Times-Bold",      "Times-Italic",      "Times-BoldItalic",
};
constexpr const char* kBaseFonts[] = {
    "Courier",     "Courier-Bold",   "Courier-Oblique",   "Courier-BoldOblique",
    "Helvetica",   "Helvetica-Bold", "Helvetica-Oblique", "Helvetica-BoldOblique",
    "Times-Roman", "Times-Bold",     "Times-Italic",      "Times-BoldItalic",
};

// Pages 1-12 hold text, one font each; pages 13-17 one picture each, filling a 100 x 80 page.
constexpr int kFirstPicturePage = 13;
constexpr int kPictureWidth = 100;
constexpr int kPictureHeight = 80;

class PdfWholeFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TPdfDoc doc;
        doc.SetProducer("Kestrom Pictova");
        doc.NewDocument();
        doc.GetInfo()->SetTitle("Whole file (\\check)");

        // A Latin-1 paragraph with bytes above 127 and characters that need escaping.
        const std::string paragraph =
            "Caf\xE9 cr\xE8me (with brackets) and a back\\slash, set with word wrap across a "
            "narrow column so that it takes several lines.\r\nA forced break ends here.";
        for (const char* font : kFonts)
        {
            doc.AddPage();
            TPdfCanvas& canvas = *doc.GetCanvas();
            canvas.SetFont(font, 14);
            canvas.SetLeading(18);
            canvas.TextRect(PdfBox(50, 780, 300, 500), std::string(font) + ": " + paragraph, true);
            canvas.BeginText();
            canvas.MoveTextPoint(50, 100);
            canvas.ShowText("ShowText in " + std::string(font));
            canvas.EndText();
        }

        ASSERT_FALSE(m_grey.empty());
        ASSERT_FALSE(m_red.empty());
        ASSERT_FALSE(m_cmykGreen.empty());
        doc.AddImage("Grey", JpegImage(m_grey));
        doc.AddImage("Red", JpegImage(m_red));
        doc.AddImage("CmykGreen", JpegImage(m_cmykGreen));
        doc.AddImage("Indexed", CreatePdfImage(IndexedBitmap(40, 20, {255, 255, 0}, {0, 0, 255}),
                                               "Pdf-Bitmap"));
        doc.AddImage("Direct", CreatePdfImage(DirectBitmap(30, 30, {200, 40, 160}), "Pdf-Bitmap"));
        for (const char* name : {"Grey", "Red", "CmykGreen", "Indexed", "Direct"})
        {
            doc.AddPage();
            TPdfCanvas& canvas = *doc.GetCanvas();
            canvas.SetPageWidth(kPictureWidth);
            canvas.SetPageHeight(kPictureHeight);
            canvas.DrawXObject(name, 0, 0, kPictureWidth, kPictureHeight);
        }

        m_path = m_dir.File("whole.pdf");
        TFileStream file(m_path, TFileStream::Mode::Create);
        doc.SaveToStream(file);
        file.Close();
    }

    // Samples as TurboJPEG takes them. The CMYK samples are stored inverted, as Adobe writes
    // them: 0 is full ink. Full cyan and yellow make green.
    const std::string m_grey = SolidJpeg(32, 24, TJPF_GRAY, TJSAMP_GRAY, {128});
    const std::string m_red = SolidJpeg(32, 24, TJPF_RGB, TJSAMP_420, {255, 0, 0});
    const std::string m_cmykGreen = SolidJpeg(32, 24, TJPF_CMYK, TJSAMP_444, {0, 255, 0, 255});
    TTempDir m_dir;
    std::string m_path;
};

TEST_F(PdfWholeFileTest, PassesQpdfAndRendersEveryPage)
{
    std::string output;
    EXPECT_TRUE(QpdfCheckPasses(m_path, &output)) << output;
    EXPECT_TRUE(PdftoppmRenders(m_path, &output)) << output;
    ASSERT_EQ(RunCommand("pdfinfo " + Quoted(m_path), &output), 0) << output;
    const std::size_t pages = output.find("Pages:");
    ASSERT_NE(pages, std::string::npos) << output;
    EXPECT_EQ(std::atoi(output.c_str() + pages + 6), 17) << output;
    EXPECT_NE(output.find("Whole file (\\check)"), std::string::npos) << output;
}

TEST_F(PdfWholeFileTest, EveryStandardFontIsListedAndItsTextExtracts)
{
    std::string fonts;
    ASSERT_EQ(RunCommand("pdffonts " + Quoted(m_path), &fonts), 0) << fonts;
    for (const char* baseFont : kBaseFonts)
    {
        EXPECT_NE(fonts.find(std::string(baseFont) + " "), std::string::npos) << baseFont << "\n"
                                                                              << fonts;
    }
    for (int page = 1; page <= 12; ++page)
    {
        const std::string n = std::to_string(page);
        std::string text;
        ASSERT_EQ(
            RunCommand("pdftotext -enc UTF-8 -f " + n + " -l " + n + " " + Quoted(m_path) + " -",
                       &text),
            0)
            << text;
        const std::string font = kFonts[page - 1];
        // Lines break differently per font, so the words are looked up one by one.
        for (const std::string& word :
             {font + ": Caf\xC3\xA9", std::string("cr\xC3\xA8me"), std::string("(with"),
              std::string("brackets)"), std::string("back\\slash")})
        {
            EXPECT_NE(text.find(word), std::string::npos) << word << "\n" << text;
        }
        EXPECT_NE(text.find("A forced break ends here."), std::string::npos) << text;
        EXPECT_NE(text.find("ShowText in " + font), std::string::npos) << text;
    }
}

TEST_F(PdfWholeFileTest, PicturesRenderInTheirOwnColours)
{
    const int x = kPictureWidth / 4;
    const int y = kPictureHeight / 2;
    auto page = [this](int index) {
        return RenderedPage(m_path, kFirstPicturePage + index, m_dir);
    };

    const RenderedPage grey = page(0);
    ASSERT_TRUE(grey.Ok()) << grey.Output();
    EXPECT_EQ(grey.Width(), kPictureWidth);
    EXPECT_EQ(grey.Height(), kPictureHeight);
    const Rgb g = grey.At(x, y);
    EXPECT_NEAR(g.Red, 128, 12);
    EXPECT_NEAR(g.Green, 128, 12);
    EXPECT_NEAR(g.Blue, 128, 12);

    const RenderedPage red = page(1);
    ASSERT_TRUE(red.Ok()) << red.Output();
    const Rgb r = red.At(x, y);
    EXPECT_GT(r.Red, 220);
    EXPECT_LT(r.Green, 40);
    EXPECT_LT(r.Blue, 40);

    // Read without the inverting decode, the same samples would be black.
    const RenderedPage cmyk = page(2);
    ASSERT_TRUE(cmyk.Ok()) << cmyk.Output();
    const Rgb c = cmyk.At(x, y);
    EXPECT_GT(c.Green, 100);
    EXPECT_GT(c.Green, c.Red + 60);
    EXPECT_GT(c.Green, c.Blue + 30);

    const RenderedPage indexed = page(3);
    ASSERT_TRUE(indexed.Ok()) << indexed.Output();
    const Rgb left = indexed.At(x, y);
    const Rgb right = indexed.At(kPictureWidth - x, y);
    EXPECT_GT(left.Red, 230);
    EXPECT_GT(left.Green, 230);
    EXPECT_LT(left.Blue, 25);
    EXPECT_LT(right.Red, 25);
    EXPECT_LT(right.Green, 25);
    EXPECT_GT(right.Blue, 230);

    const RenderedPage direct = page(4);
    ASSERT_TRUE(direct.Ok()) << direct.Output();
    const Rgb d = direct.At(x, y);
    EXPECT_NEAR(d.Red, 200, 3);
    EXPECT_NEAR(d.Green, 40, 3);
    EXPECT_NEAR(d.Blue, 160, 3);
}

} // namespace
