#include "pdf/PdfImages.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>

#include <sys/resource.h>

#include <gtest/gtest.h>

#include "pdf/PdfCanvas.h"
#include "pdf/PdfDoc.h"
#include "pdf/PdfJpegImage.h"
#include "platform/Exceptions.h"
#include "tests/support/TestSupport.h"

namespace
{

std::string Body(const TPdfObject& object)
{
    TMemoryStream stream;
    object.WriteBody(stream);
    return stream.Bytes();
}

TPicture JpegPicture(const std::string& bytes)
{
    auto jpeg = std::make_unique<TJPEGImage>();
    jpeg->SetData(bytes);
    TPicture picture;
    picture.SetGraphic(std::move(jpeg));
    return picture;
}

TPicture BitmapPicture(std::unique_ptr<TBitmap> bitmap)
{
    TPicture picture;
    picture.SetGraphic(std::move(bitmap));
    return picture;
}

std::string Stream(const std::string& dictionaryLines, const std::string& data)
{
    return "<<\r\n/Length " + std::to_string(data.size()) + "\r\n" + dictionaryLines +
           ">>\r\nstream\r\n" + data + "\nendstream";
}

// The lookup text for a palette, black past its end.
std::string Lookup(const std::vector<std::string>& entries)
{
    std::string text = "<";
    for (std::size_t i = 0; i < 256; ++i)
    {
        text += (i < entries.size() ? entries[i] : "000000") + " ";
    }
    return text + ">";
}

} // namespace

TEST(PdfJpegImage, EmbedsTheBytesUnchangedWithTheHeadersColourSpace)
{
    struct Case
    {
        int Components;
        bool Adobe;
        const char* Lines; // after /BitsPerComponent 8
        const char* ColorSpace;
    };
    const Case cases[] = {
        {3, false, "", "DeviceRGB"},
        {1, false, "", "DeviceGray"},
        {4, false, "", "DeviceCMYK"},
        {4, true, "/Decode [1 0 1 0 1 0 1 0 ]\r\n", "DeviceCMYK"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.ColorSpace + std::string(c.Adobe ? " Adobe" : ""));
        const std::string bytes = MakeTestJpeg(17, 9, c.Components, c.Adobe);
        const std::unique_ptr<TPdfImage> image = CreatePdfImage(JpegPicture(bytes), "Pdf-Jpeg");
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->ObjectKind(), okDirect);
        EXPECT_EQ(Body(*image), Stream(std::string("/Filter [/DCTDecode ]\r\n"
                                                   "/Type /XObject\r\n"
                                                   "/Subtype /Image\r\n"
                                                   "/ColorSpace /") +
                                           c.ColorSpace +
                                           "\r\n"
                                           "/Width 17\r\n"
                                           "/Height 9\r\n"
                                           "/BitsPerComponent 8\r\n" +
                                           c.Lines,
                                       bytes));
    }
}

TEST(PdfJpegImage, RefusesWhatItCannotDeclareCorrectly)
{
    const TPicture twoComponents = JpegPicture(MakeTestJpeg(4, 4, 2));
    const TPicture unreadable = JpegPicture("not a jpeg at all");
    for (const TPicture* picture : {&twoComponents, &unreadable})
    {
        ExpectThrowWithMessage<EPdfInvalidImageFormat>(
            [&] { CreatePdfImage(*picture, "Pdf-Jpeg"); },
            "only 1, 3 or 4 component jpeg is allowed.");
    }

    const TPicture bitmap = BitmapPicture(std::make_unique<TBitmap>(2, 2, pf24bit));
    ExpectThrowWithMessage<EPdfInvalidValue>([&] { CreatePdfImage(bitmap, "Pdf-Jpeg"); },
                                             "only jpeg image is allowed.");
    ExpectThrowWithMessage<EPdfInvalidValue>([&] { CreatePdfImage(TPicture(), "Pdf-Jpeg"); },
                                             "only jpeg image is allowed.");
}

TEST(PdfImageRegistry, FindsCreatorsByNameOrClassNameInAnyCase)
{
    const std::string bytes = MakeTestJpeg(2, 2, 3);
    TJPEGImage jpeg;
    jpeg.SetData(bytes);
    for (const char* name : {"Pdf-Jpeg", "pdf-jpeg", "PDF-JPEG", "TPdfJpegImage", "tpdfjpegimage"})
    {
        EXPECT_NE(CreatePdfImage(jpeg, name), nullptr) << name;
    }
    const TBitmap bitmap(1, 1, pf24bit);
    for (const char* name : {"Pdf-Bitmap", "pdf-BITMAP", "TPdfBitmapImage"})
    {
        EXPECT_NE(CreatePdfImage(bitmap, name), nullptr) << name;
    }
    RegisterPdfImageCreators(); // again: harmless
    ExpectThrowWithMessage<Exception>([&] { CreatePdfImage(jpeg, "Pdf-Png"); },
                                      "AddImage --InvalidImageClassName:Pdf-Png");
    ExpectThrowWithMessage<Exception>([&] { CreatePdfImage(jpeg, ""); },
                                      "AddImage --InvalidImageClassName:");
    TPdfImageCreator base;
    EXPECT_EQ(base.CreateImage(&jpeg), nullptr);
}

TEST(PdfBitmapImage, DirectFormatsBecomeRgbSamplesRedFirst)
{
    auto bitmap = std::make_unique<TBitmap>(2, 2, pf24bit);
    const std::uint8_t bgr[2][6] = {{0x10, 0x20, 0x30, 0x00, 0x00, 0xFF},
                                    {0xFF, 0xFF, 0xFF, 0x01, 0x02, 0x03}};
    for (int y = 0; y < 2; ++y)
    {
        std::copy(bgr[y], bgr[y] + 6, bitmap->ScanLine(y));
    }
    const std::unique_ptr<TPdfImage> image =
        CreatePdfImage(BitmapPicture(std::move(bitmap)), "Pdf-Bitmap");
    EXPECT_EQ(Body(*image),
              Stream("/Filter []\r\n"
                     "/Type /XObject\r\n"
                     "/Subtype /Image\r\n"
                     "/ColorSpace /DeviceRGB\r\n"
                     "/Width 2\r\n"
                     "/Height 2\r\n"
                     "/BitsPerComponent 8\r\n",
                     std::string("\x30\x20\x10\xFF\x00\x00\xFF\xFF\xFF\x03\x02\x01", 12)));

    TBitmap wide(3, 1, pf32bit);
    wide.ScanLine(0)[8] = 0x40; // third pixel's blue
    TBitmap high(3, 1, pf16bit);
    high.ScanLine(0)[0] = 0x1F; // first pixel pure blue
    EXPECT_EQ(CreatePdfImage(wide, "Pdf-Bitmap")->Data().Bytes(),
              std::string("\0\0\0\0\0\0\0\0\x40", 9));
    EXPECT_EQ(CreatePdfImage(high, "Pdf-Bitmap")->Data().Bytes(),
              std::string("\0\0\xFF\0\0\0\0\0\0", 9));
}

TEST(PdfBitmapImage, IndexedFormatsBecomeEightBitIndexedWithTheWholeLookup)
{
    auto bitmap = std::make_unique<TBitmap>(3, 2, pf8bit);
    bitmap->SetPalette({TPaletteEntry{0xFF, 0x80, 0x00, 0}, TPaletteEntry{0x0A, 0x0B, 0x0C, 0}});
    bitmap->ScanLine(0)[1] = 1;
    bitmap->ScanLine(1)[2] = 1;
    const std::unique_ptr<TPdfImage> image =
        CreatePdfImage(BitmapPicture(std::move(bitmap)), "Pdf-Bitmap");

    const std::string lookup = Lookup({"FF8000", "0A0B0C"});
    ASSERT_EQ(lookup.size(), 1794u);
    EXPECT_EQ(Body(*image), Stream("/Filter []\r\n"
                                   "/Type /XObject\r\n"
                                   "/Subtype /Image\r\n"
                                   "/ColorSpace [/Indexed /DeviceRGB 255 " +
                                       lookup +
                                       " ]\r\n"
                                       "/Width 3\r\n"
                                       "/Height 2\r\n"
                                       "/BitsPerComponent 8\r\n",
                                   std::string("\0\1\0\0\0\1", 6)));
}

TEST(PdfBitmapImage, OneAndFourBitBitmapsKeepTheirIndicesAndTheCallersPicture)
{
    TBitmap oneBit(10, 1, pf1bit); // black and white by default
    oneBit.ScanLine(0)[0] = 0b1000'0001;
    oneBit.ScanLine(0)[1] = 0b0100'0000;
    const std::unique_ptr<TPdfImage> image = CreatePdfImage(oneBit, "Pdf-Bitmap");
    EXPECT_EQ(image->Data().Bytes(), std::string("\1\0\0\0\0\0\0\1\0\1", 10));
    EXPECT_EQ(Body(*image->Attributes().Lookup("ColorSpace")),
              "[/Indexed /DeviceRGB 255 " + Lookup({"000000", "FFFFFF"}) + " ]");
    EXPECT_EQ(oneBit.PixelFormat(), pf1bit); // converted a copy only
    EXPECT_EQ(oneBit.ScanLine(0)[0], 0b1000'0001);

    TBitmap fourBit(3, 1, pf4bit);
    fourBit.ScanLine(0)[0] = 0x9F;
    fourBit.ScanLine(0)[1] = 0x20;
    const std::unique_ptr<TPdfImage> four = CreatePdfImage(fourBit, "Pdf-Bitmap");
    EXPECT_EQ(four->Data().Bytes(), "\x09\x0F\x02");
    const std::string colorSpace = Body(*four->Attributes().Lookup("ColorSpace"));
    EXPECT_EQ(colorSpace.substr(0, 26 + 16 * 7 + 7), "[/Indexed /DeviceRGB 255 <"
                                                     "000000 800000 008000 808000 000080 800080 "
                                                     "008080 C0C0C0 808080 FF0000 00FF00 FFFF00 "
                                                     "0000FF FF00FF 00FFFF FFFFFF 000000 ");
}

TEST(PdfBitmapImage, EmptyBitmapsMakeEmptyImages)
{
    const std::unique_ptr<TPdfImage> flat = CreatePdfImage(TBitmap(4, 0, pf24bit), "Pdf-Bitmap");
    EXPECT_EQ(Body(*flat), Stream("/Filter []\r\n/Type /XObject\r\n/Subtype /Image\r\n"
                                  "/Width 4\r\n/Height 0\r\n/BitsPerComponent 8\r\n",
                                  ""));
    const std::unique_ptr<TPdfImage> narrow = CreatePdfImage(TBitmap(0, 3, pf24bit), "Pdf-Bitmap");
    EXPECT_EQ(narrow->Data().Size(), 0);
    EXPECT_NE(narrow->Attributes().Lookup("ColorSpace"), nullptr);
    const std::unique_ptr<TPdfImage> none = CreatePdfImage(TPicture(), "Pdf-Bitmap");
    EXPECT_EQ(none->Data().Size(), 0);
    EXPECT_EQ(none->Attributes().LookupNumber("Width")->Value(), 0);
}

TEST(PdfBitmapImage, IndexedColourSpaceRefusals)
{
    TPdfBitmapImage creator;
    ExpectThrowWithMessage<EPdfInvalidImageFormat>(
        [&] { creator.CreateIndexedColorSpace(TBitmap(1, 1, pf24bit)); },
        "only 8 bit color image is allowed.");
    ExpectThrowWithMessage<EPdfInvalidImageFormat>(
        [&] { creator.CreateIndexedColorSpace(TBitmap(1, 1, pf4bit)); },
        "only 8 bit color image is allowed.");
    TBitmap noPalette(1, 1, pf8bit);
    noPalette.SetPalette({});
    ExpectThrowWithMessage<EPdfInvalidImageFormat>(
        [&] { creator.CreateIndexedColorSpace(noPalette); }, "failed to get Palette..");
    ExpectThrowWithMessage<EPdfInvalidImageFormat>([&] { CreatePdfImage(noPalette, "Pdf-Bitmap"); },
                                                   "failed to get Palette..");
    TJPEGImage jpeg;
    jpeg.SetData(MakeTestJpeg(2, 2, 3));
    ExpectThrowWithMessage<EPdfInvalidImageFormat>([&] { CreatePdfImage(jpeg, "Pdf-Bitmap"); },
                                                   "only bitmap image is allowed.");
}

namespace
{

struct TRgb
{
    int Red;
    int Green;
    int Blue;
};

// The colour pdftoppm renders at the centre of a page.
TRgb CentrePixel(const std::string& pdfPath, int page, const TTempDir& dir)
{
    const std::string prefix = dir.File("centre");
    const std::string command = "pdftoppm -r 72 -singlefile -f " + std::to_string(page) + " -l " +
                                std::to_string(page) + " '" + pdfPath + "' '" + prefix + "'";
    std::string output;
    if (RunCommand(command, &output) != 0)
    {
        ADD_FAILURE() << output;
        return {-1, -1, -1};
    }
    const std::string ppm = ReadFileBytes(prefix + ".ppm");
    int width = 0;
    int height = 0;
    int maxValue = 0;
    int headerLength = 0;
    if (std::sscanf(ppm.c_str(), "P6 %d %d %d%n", &width, &height, &maxValue, &headerLength) != 3)
    {
        ADD_FAILURE() << "not a PPM";
        return {-1, -1, -1};
    }
    const std::size_t at = static_cast<std::size_t>(headerLength) + 1 +
                           3 * static_cast<std::size_t>((height / 2) * width + width / 2);
    auto sample = [&](std::size_t i) { return static_cast<unsigned char>(ppm.at(at + i)); };
    return {sample(0), sample(1), sample(2)};
}

void ExpectNear(TRgb actual, TRgb expected)
{
    EXPECT_NEAR(actual.Red, expected.Red, 12);
    EXPECT_NEAR(actual.Green, expected.Green, 12);
    EXPECT_NEAR(actual.Blue, expected.Blue, 12);
}

} // namespace

TEST(PdfImagesInDocument, EveryKindRendersInItsOwnColours)
{
    // Uniform pictures, so the rendered centre pixel tells whether the colour space is right.
    TBitmap indexed(8, 8, pf8bit);
    indexed.SetPalette({TPaletteEntry{0x00, 0x00, 0xFF, 0}, TPaletteEntry{0xFF, 0x80, 0x00, 0}});
    for (int y = 0; y < 8; ++y)
    {
        std::fill(indexed.ScanLine(y), indexed.ScanLine(y) + 8, 1);
    }
    TBitmap rgb(8, 8, pf24bit);
    for (int y = 0; y < 8; ++y)
    {
        for (int x = 0; x < 8; ++x)
        {
            rgb.ScanLine(y)[3 * x] = 0x20;     // blue
            rgb.ScanLine(y)[3 * x + 2] = 0xC0; // red
        }
    }
    struct Page
    {
        std::unique_ptr<TPdfImage> Image;
        TRgb Expected;
    };
    std::vector<Page> pages;
    pages.push_back({CreatePdfImage(indexed, "Pdf-Bitmap"), {0xFF, 0x80, 0x00}});
    pages.push_back({CreatePdfImage(rgb, "Pdf-Bitmap"), {0xC0, 0x00, 0x20}});
    TJPEGImage jpeg;
    jpeg.SetData(MakeTestJpeg(16, 16, 1, false, 200));
    pages.push_back({CreatePdfImage(jpeg, "Pdf-Jpeg"), {200, 200, 200}});
    // Adobe's inverted CMYK: 255 everywhere means no ink, so white; read uninverted it is black.
    jpeg.SetData(MakeTestJpeg(16, 16, 4, true, 255));
    pages.push_back({CreatePdfImage(jpeg, "Pdf-Jpeg"), {255, 255, 255}});
    jpeg.SetData(MakeTestJpeg(16, 16, 4, false, 0));
    pages.push_back({CreatePdfImage(jpeg, "Pdf-Jpeg"), {255, 255, 255}});
    jpeg.SetData(MakeTestJpeg(16, 16, 3));
    pages.push_back({CreatePdfImage(jpeg, "Pdf-Jpeg"), {-1, -1, -1}});

    TPdfDoc doc;
    doc.NewDocument();
    int number = 0;
    for (Page& page : pages)
    {
        const std::string name = "Image" + std::to_string(++number);
        doc.AddPage();
        TPdfCanvas& canvas = *doc.GetCanvas();
        canvas.SetPageWidth(40);
        canvas.SetPageHeight(40);
        doc.AddImage(name, std::move(page.Image));
        canvas.DrawXObject(name, 0, 0, 40, 40);
    }
    TTempDir dir;
    const std::string path = dir.File("images.pdf");
    {
        TFileStream out(path, TFileStream::Mode::Create);
        doc.SaveToStream(out);
        out.Close();
    }
    std::string output;
    EXPECT_TRUE(QpdfCheckPasses(path, &output)) << output;
    EXPECT_TRUE(PdftoppmRenders(path, &output)) << output;
    for (std::size_t i = 0; i < pages.size(); ++i)
    {
        if (pages[i].Expected.Red >= 0)
        {
            SCOPED_TRACE("page " + std::to_string(i + 1));
            ExpectNear(CentrePixel(path, static_cast<int>(i + 1), dir), pages[i].Expected);
        }
    }
}

namespace
{

// Three pages, each with its picture; returns the bytes each image holds in memory once added.
std::vector<std::int64_t> AddThreeImages(TPdfDoc& doc)
{
    std::vector<std::int64_t> inMemory;
    doc.NewDocument();
    for (int i = 0; i < 3; ++i)
    {
        doc.AddPage();
        TJPEGImage jpeg;
        jpeg.SetData(MakeTestJpeg(16 + i, 9, i == 1 ? 1 : 3));
        const std::string name = "Image" + std::to_string(i);
        TPdfImage& image = doc.AddImage(name, CreatePdfImage(jpeg, "Pdf-Jpeg"));
        EXPECT_EQ(image.DataSize(), static_cast<std::int64_t>(jpeg.Data().size()));
        // Unspooled, the image holds the picture's own buffer, not a copy of it.
        if (image.SpooledSize() == 0)
        {
            EXPECT_EQ(image.SharedData().get(), &jpeg.Data()) << i;
        }
        inMemory.push_back(image.DataSize() - image.SpooledSize());
        doc.GetCanvas()->DrawXObject(name, 0, 0, 16, 9);
    }
    return inMemory;
}

} // namespace

// Images go to a nameless temporary file as they are added and come back from it when the
// document is written: the same bytes as from memory, and nothing in the temporary folder.
TEST(PdfImagesInDocument, SpooledImagesWriteTheSameFileAndLeaveNothingBehind)
{
    TTempDir tmp;
    const ScopedEnv tmpdir("TMPDIR", tmp.Path());
    // The documents carry their creation time: a fixed clock keeps a second that ends between
    // two of them from making them differ.
    const ScopedClock clock(EncodeDateTime(2024, 3, 7, 14, 5, 9));
    const std::vector<std::string> none;
    // Writes the document twice (the spool is read again, not used up); inMemory says which
    // images are expected to stay in memory.
    const auto write = [&](bool spool, const std::vector<bool>& inMemory) {
        TPdfDoc doc;
        doc.SetSpoolImages(spool);
        const std::vector<std::int64_t> held = AddThreeImages(doc);
        for (std::size_t i = 0; i < held.size(); ++i)
            EXPECT_EQ(held[i] > 0, inMemory[i]) << i;
        EXPECT_EQ(FolderEntries(tmp.Path()), none);
        TMemoryStream out;
        doc.SaveToStream(out);
        doc.SaveToStream(out);
        return out.Bytes();
    };
    const std::string inMemory = write(false, {true, true, true});
    EXPECT_EQ(write(true, {false, false, false}), inMemory);
    EXPECT_NE(inMemory.find("/DCTDecode"), std::string::npos);
    EXPECT_EQ(FolderEntries(tmp.Path()), none);

    // A temporary folder that cannot take the file leaves the images in memory.
    {
        const ScopedEnv missing("TMPDIR", tmp.File("gone"));
        EXPECT_EQ(write(true, {true, true, true}), inMemory);
    }

    // A disk that fills up after the first image: that one comes back from the spool, the
    // one whose write failed partway and those after it stay in memory.
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit full = before;
    full.rlim_cur = MakeTestJpeg(16, 9, 3).size() + 10;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
    const std::string partly = write(true, {false, true, true});
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(partly, inMemory);
    EXPECT_EQ(FolderEntries(tmp.Path()), none);
}
