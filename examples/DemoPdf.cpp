// pictova-demo OUTPUT.pdf: writes a short demonstration document with the PDF writer: pages of
// text in several standard fonts, set with word wrap, and an embedded JPEG picture.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <string_view>

#include <sys/stat.h>

#include "pdf/PdfCanvas.h"
#include "pdf/PdfDoc.h"
#include "pdf/PdfImages.h"
#include "pdf/PdfWrappers.h"
#include "platform/DateTime.h"
#include "platform/Graphics.h"
#include "platform/Stream.h"

extern const unsigned char kDemoJpeg[];
extern const std::size_t kDemoJpegSize;

namespace
{

constexpr float kPageHeight = 842;
constexpr float kLeft = 72;
constexpr float kRight = 524;
constexpr std::int32_t kInk = 0x202020;
constexpr std::int32_t kAccent = 0x8C4A1E; // a deep blue, as 0x00BBGGRR

// Texts are Windows-1252 bytes: the standard fonts use that encoding.
constexpr std::string_view kIntroduction =
    "Kestrom Pictova gathers picture files into an ordered list and turns them into one PDF "
    "document: one page per picture, each page exactly as large as its picture, every picture "
    "encoded again as a JPEG at the quality you choose. This document was written by the "
    "program's own PDF writer, the part that will carry every conversion.";
constexpr std::string_view kPictureNote =
    "The picture above is a JPEG. Its bytes are embedded unchanged behind the DCT filter; the "
    "writer reads only its header, to learn the size and the colour space.";
constexpr std::string_view kTextNote =
    "Text is set in the twelve standard fonts that every PDF viewer supplies, so no font program "
    "travels with the file. Each font knows the width of every character, which lets the page "
    "canvas measure words and break lines to fit a rectangle, as in this paragraph.";
constexpr std::string_view kPangram = "The quick brown fox jumps over the lazy dog. 0123456789";

// How many lines TextRect makes of text in a rectangle that is wide enough for every word.
int LineCount(const TPdfCanvas& canvas, std::string_view text, float left, float right)
{
    int position = 1;
    std::string word = canvas.GetNextWord(text, position);
    float x = left + canvas.TextWidth(word);
    int lines = 1;
    while (position <= static_cast<int>(text.size()))
    {
        const bool forcedBreak = word.size() >= 2 && word.ends_with("\r\n");
        word = canvas.GetNextWord(text, position);
        const float width = canvas.TextWidth(word);
        if (x + width > right || forcedBreak)
        {
            ++lines;
            x = left;
        }
        x += width;
    }
    return lines;
}

// Sets a paragraph below top and returns the top of the space under it.
float Paragraph(TPdfCanvas& canvas, float top, const std::string& font, float size,
                std::string_view text, std::int32_t color = kInk)
{
    canvas.SetFont(font, size);
    canvas.SetLeading(size * 1.35F);
    canvas.SetRGBFillColor(color);
    const int lines = LineCount(canvas, text, kLeft, kRight);
    const float height = static_cast<float>(lines) * size * 1.35F;
    canvas.TextRect(PdfBox(kLeft, top, kRight, top - height), text, true);
    return top - height - size * 0.8F;
}

void TitlePage(TPdfDoc& doc)
{
    doc.AddPage();
    TPdfCanvas& canvas = *doc.GetCanvas();
    float top = kPageHeight - 72;
    top = Paragraph(canvas, top, "Times-Bold", 30, "Kestrom Pictova", kAccent);
    top = Paragraph(canvas, top, "Arial-Italic", 13, "Pictures in, one PDF out");
    top = Paragraph(canvas, top - 6, "Arial", 11, kIntroduction);

    // The picture, 480 by 300 pixels, drawn at 90 per cent across the text column.
    const float width = 432;
    const float height = 270;
    const float x = kLeft + (kRight - kLeft - width) / 2;
    canvas.DrawXObject("Image1", x, top - height - 8, width, height);
    top -= height + 28;

    top = Paragraph(canvas, top, "Arial", 11, kPictureNote);
    Paragraph(canvas, top, "Arial", 11, kTextNote);
}

void FontsPage(TPdfDoc& doc)
{
    doc.AddPage();
    TPdfCanvas& canvas = *doc.GetCanvas();
    float top = kPageHeight - 72;
    top = Paragraph(canvas, top, "Times-Bold", 22, "The twelve standard fonts", kAccent);
    const char* fonts[] = {
        "Arial",       "Arial-Bold",      "Arial-Italic",      "Arial-BoldItalic",
        "Times-Roman", "Times-Bold",      "Times-Italic",      "Times-BoldItalic",
        "FixedWidth",  "FixedWidth-Bold", "FixedWidth-Italic", "FixedWidth-BoldItalic",
    };
    for (const char* font : fonts)
    {
        top = Paragraph(canvas, top - 4, "Arial", 8, font, 0x707070);
        top = Paragraph(canvas, top + 4, font, 13, kPangram);
    }
    top = Paragraph(canvas, top - 10, "Times-Roman", 12,
                    "Accented letters come from the same tables: caf\xE9, na\xEFve, "
                    "\xC5ngstr\xF6m, se\xF1or, gar\xE7on, \x80 12,50 \x96 \x93quoted\x94.");
}

void LayoutPage(TPdfDoc& doc)
{
    doc.AddPage();
    TPdfCanvas& canvas = *doc.GetCanvas();
    float top = kPageHeight - 72;
    top = Paragraph(canvas, top, "Times-Bold", 22, "Setting text in a rectangle", kAccent);
    top = Paragraph(canvas, top, "Times-Roman", 12,
                    "Lines break between words when the next word would pass the right edge, "
                    "and wherever the text holds a carriage return and line feed:");
    top = Paragraph(canvas, top, "FixedWidth", 11,
                    "first line\r\nsecond line\r\nthird line, and a longer one that wraps "
                    "because it is wider than the column.");

    // Without word wrap a line too wide is cut to the characters that fit.
    canvas.SetFont("Arial-Bold", 12);
    canvas.SetRGBFillColor(0x1E5AB4);
    canvas.TextRect(PdfBox(kLeft, top, kLeft + 200, top - 20),
                    "A line without word wrap is cut at the rectangle's edge.", false);
    top -= 32;

    top = Paragraph(canvas, top, "Times-Roman", 12,
                    "The same picture again, clipped to a smaller box, the way a page shows "
                    "only the part of a drawing that falls inside it:");
    const float width = 288;
    const float height = 180;
    const float clipY = top - 128;
    canvas.DrawXObjectEx("Image1", kLeft - 96, clipY - 30, width, height, kLeft, clipY, 150, 120);
}

std::string BuildDocument()
{
    TPdfDoc doc;
    doc.SetProducer("Kestrom Pictova");
    doc.NewDocument();
    TPdfInfo& info = *doc.GetInfo();
    info.SetTitle("Kestrom Pictova demonstration");
    info.SetSubject("Text in the standard fonts and an embedded JPEG picture");
    info.SetKeywords("PDF, JPEG, standard fonts");
    info.SetCreator("pictova-demo");

    TJPEGImage picture;
    picture.SetData(std::string(reinterpret_cast<const char*>(kDemoJpeg), kDemoJpegSize));
    doc.AddImage("Image1", CreatePdfImage(picture, "Pdf-Jpeg"));

    TitlePage(doc);
    FontsPage(doc);
    LayoutPage(doc);

    TMemoryStream bytes;
    doc.SaveToStream(bytes);
    return bytes.Bytes();
}

} // namespace

int main(int argc, char** argv)
{
    const char* program = argc > 0 ? argv[0] : "pictova-demo";
    if (argc != 2 || argv[1][0] == '\0')
    {
        std::fprintf(stderr, "usage: %s OUTPUT.pdf\n", program);
        return 1;
    }
    const std::string path = argv[1];

    std::string pdf;
    try
    {
        pdf = BuildDocument();
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "%s: cannot make the document: %s\n", program, e.what());
        return 1;
    }

    // The whole file is made in memory first, so a failure of the writer never touches the
    // output; a failed write removes the partial file.
    std::unique_ptr<TFileStream> file;
    try
    {
        file = std::make_unique<TFileStream>(path, TFileStream::Mode::Create);
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "%s: %s\n", program, e.what());
        return 1;
    }
    try
    {
        file->Write(pdf);
        file->Close();
    }
    catch (const std::exception& e)
    {
        file.reset();
        // Only a plain file is ours to remove; a device such as /dev/full must stay.
        struct stat status = {};
        if (::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode))
        {
            std::remove(path.c_str());
        }
        std::fprintf(stderr, "%s: %s\n", program, e.what());
        return 1;
    }
    return 0;
}
