#include "report/PReport.h"

#include <cmath>
#include <string_view>

#include "pdf/PdfImages.h"
#include "platform/Exceptions.h"
#include "platform/SaveFile.h"
#include "platform/Services.h"
#include "platform/Stream.h"

// ---- TPROutlineRoot ----

TPROutlineRoot& TPROutlineRoot::CreateRoot(TPdfDoc& doc)
{
    TPdfOutlineRoot& root = *doc.GetOutlineRoot();
    std::unique_ptr<TPROutlineRoot> wrapper(new TPROutlineRoot(root));
    TPROutlineRoot& stored = *wrapper;
    root.SetReference(std::move(wrapper));
    return stored;
}

// ---- TPReport ----

TPReport::TPReport(TComponent* owner)
    : TAbstractPReport(owner), m_creationDate(Clock().Now()),
      m_canvas(std::make_unique<TPRCanvas>())
{
}

TPReport::~TPReport()
{
    AbortDocument();
}

void TPReport::CheckClosed(const char* message) const
{
    if (m_doc != nullptr)
    {
        throw EPdfInvalidOperation(message);
    }
}

void TPReport::SetAuthor(const std::string& value)
{
    CheckClosed("SetAuthor --invalid operation.");
    m_author = value;
}

void TPReport::SetCreationDate(TDateTime value)
{
    CheckClosed("SetCreationDate --invalid operation.");
    m_creationDate = value;
}

void TPReport::SetCreator(const std::string& value)
{
    CheckClosed("SetCreator --invalid operation.");
    m_creator = value;
}

void TPReport::SetKeywords(const std::string& value)
{
    CheckClosed("SetKeyWords --invalid operation.");
    m_keywords = value;
}

void TPReport::SetModDate(TDateTime value)
{
    CheckClosed("SetModDate --invalid operation.");
    m_modDate = value;
}

void TPReport::SetSubject(const std::string& value)
{
    CheckClosed("SetSubject --invalid operation.");
    m_subject = value;
}

void TPReport::SetTitle(const std::string& value)
{
    CheckClosed("SetTitle --invalid operation.");
    m_title = value;
}

void TPReport::SetPageMode(TPdfPageMode value)
{
    CheckClosed("SetPageMode --invalid operation.");
    m_pageMode = value;
}

void TPReport::SetNonFullScreenPageMode(TPdfPageMode value)
{
    CheckClosed("SetNonFullScreenPageMode --invalid operation.");
    // Full screen cannot be the mode to leave full screen for.
    m_nonFullScreenPageMode = value == pmFullScreen ? pmUseNone : value;
}

void TPReport::SetPageLayout(TPdfPageLayout value)
{
    CheckClosed("SetPageLayout --invalid operation.");
    m_pageLayout = value;
}

void TPReport::SetUseOutlines(bool value)
{
    CheckClosed("SetUseOutlines --invalid operation.");
    m_useOutlines = value;
}

void TPReport::SetViewerPreference(TPdfViewerPreferences value)
{
    CheckClosed("SetViewerPreference --invalid operation.");
    m_viewerPreference = value;
}

void TPReport::StartDocument()
{
    AbortDocument();

    // The document becomes the report's only when it is complete, so a failure here leaves the
    // report closed.
    auto doc = std::make_unique<TPdfDoc>();
    doc->SetProducer(m_producer);
    doc->SetUseOutlines(m_useOutlines);
    doc->SetCompressionMethod(m_compressionMethod);
    doc->NewDocument();

    TPROutlineRoot* outlineRoot = nullptr;
    if (m_useOutlines)
    {
        outlineRoot = &TPROutlineRoot::CreateRoot(*doc);
    }

    TPdfCatalog& root = *doc->GetRoot();
    root.SetPageMode(m_pageMode);
    root.SetPageLayout(m_pageLayout);
    if (m_nonFullScreenPageMode != pmUseNone)
    {
        root.SetNonFullScreenPageMode(m_nonFullScreenPageMode);
    }
    if (!m_viewerPreference.Empty())
    {
        root.SetViewerPreference(m_viewerPreference);
    }

    TPdfInfo& info = *doc->GetInfo();
    info.SetAuthor(m_author);
    info.SetCreationDate(m_creationDate);
    info.SetCreator(m_creator);
    info.SetKeywords(m_keywords);
    info.SetModDate(m_modDate);
    info.SetSubject(m_subject);
    info.SetTitle(m_title);

    m_doc = std::move(doc);
    m_outlineRoot = outlineRoot;
    m_pageCount = 0;
}

void TPReport::PrintPage(TPRPage& page)
{
    if (m_doc == nullptr)
    {
        throw EInvalidOperation("document is null..");
    }
    m_doc->AddPage();
    ++m_pageCount;
    m_canvas->SetPdfCanvas(m_doc->GetCanvas());
    page.Print(*m_canvas);
}

void TPReport::EndDocument()
{
    if (m_doc == nullptr)
    {
        throw EInvalidOperation("document is null..");
    }
    TSaveFile file(m_fileName);
    m_doc->SaveToStream(file.Stream());
    file.Commit();
    AbortDocument();
}

void TPReport::AbortDocument()
{
    m_canvas->SetPdfCanvas(nullptr);
    m_outlineRoot = nullptr;
    m_doc.reset();
}

// ---- design-view helpers ----

namespace
{

constexpr int kGridUnitsPer10Cm = 378;

// Grid lines every 5 mm (dotted) and every centimetre (solid), in page coordinates; (dx, dy) is
// where the painted area lies within the page.
void PaintGrid(TPainter& painter, int width, int height, int dx, int dy)
{
    for (int n = 1;; ++n)
    {
        const int x = n * kGridUnitsPer10Cm / 20 - dx;
        if (x >= width)
        {
            break;
        }
        if (x >= 0)
        {
            painter.Line(x, 0, x, height, clSilver, n % 2 != 0 ? psDot : psSolid);
        }
    }
    for (int n = 1;; ++n)
    {
        const int y = n * kGridUnitsPer10Cm / 20 - dy;
        if (y >= height)
        {
            break;
        }
        if (y >= 0)
        {
            painter.Line(0, y, width, y, clSilver, n % 2 != 0 ? psDot : psSolid);
        }
    }
}

TFont RulerFont()
{
    TFont font;
    font.Size = 8;
    font.Color = clSilver;
    return font;
}

} // namespace

// ---- TPRPage ----

TPRPage::TPRPage(TComponent* owner)
    : TCustomPanel(owner), m_measuringDocument(std::make_unique<TPdfDoc>())
{
    m_measuringDocument->OpenMeasuringDocument();
    SetBounds(0, 0, 596, 842);
}

TPRPage::~TPRPage() = default;

void TPRPage::SetMargin(std::int32_t& margin, std::int32_t value)
{
    // Every margin is checked against the width, the top and bottom ones too.
    if (value == margin || value < 0 || value >= Width() / 2)
    {
        return;
    }
    margin = value;
    Realign();
}

void TPRPage::SetMarginTop(std::int32_t value)
{
    SetMargin(m_marginTop, value);
}

void TPRPage::SetMarginLeft(std::int32_t value)
{
    SetMargin(m_marginLeft, value);
}

void TPRPage::SetMarginRight(std::int32_t value)
{
    SetMargin(m_marginRight, value);
}

void TPRPage::SetMarginBottom(std::int32_t value)
{
    SetMargin(m_marginBottom, value);
}

void TPRPage::AlignControls(TControl* control, TRect /*rect*/)
{
    TRect rect = ClientRect();
    rect.Left += m_marginLeft;
    rect.Top += m_marginTop;
    rect.Right -= m_marginRight;
    rect.Bottom -= m_marginBottom;
    TCustomPanel::AlignControls(control, rect);
}

void TPRPage::Print(TPRCanvas& canvas)
{
    TPdfCanvas* pdfCanvas = canvas.PdfCanvas();
    if (pdfCanvas == nullptr)
    {
        throw EInvalidOperation("Print --the canvas has no page.");
    }
    pdfCanvas->SetPageHeight(Height());
    pdfCanvas->SetPageWidth(Width());
    if (m_onPrintPage)
    {
        m_onPrintPage(*this, canvas);
    }
    // By index, as an event may have changed the children.
    for (int i = 0; i < ControlCount(); ++i)
    {
        TControl* child = Controls(i);
        if (auto* panel = dynamic_cast<TPRPanel*>(child))
        {
            panel->Print(canvas, panel->BoundsRect());
        }
    }
}

void TPRPage::Paint(TPainter& painter) const
{
    painter.FillRect(ClientRect(), clWhite);
    PaintGrid(painter, Width(), Height(), 0, 0);
    const TFont ruler = RulerFont();
    for (int n = 0; n * kGridUnitsPer10Cm / 10 < Width(); ++n)
    {
        painter.TextOut(n * kGridUnitsPer10Cm / 10 + 1, 1, std::to_string(n), ruler);
    }
    for (int n = 0; n * kGridUnitsPer10Cm / 10 < Height(); ++n)
    {
        painter.TextOut(1, n * kGridUnitsPer10Cm / 10 + 1, std::to_string(n), ruler);
    }
    painter.TextOut(4, 4, Name(), TFont{});
}

// ---- TPRPanel ----

TPRPanel::TPRPanel(TComponent* owner) : TCustomPanel(owner)
{
    SetBevelOuter(bvNone);
    SetHeight(100);
}

void TPRPanel::Print(TPRCanvas& canvas, const TRect& rect)
{
    for (int i = 0; i < ControlCount(); ++i)
    {
        TControl* child = Controls(i);
        TRect r = child->BoundsRect();
        r = Rect(r.Left + rect.Left, r.Top + rect.Top, r.Right + rect.Left, r.Bottom + rect.Top);
        if (auto* panel = dynamic_cast<TPRPanel*>(child))
        {
            panel->Print(canvas, r);
        }
        else if (auto* item = dynamic_cast<TPRItem*>(child); item != nullptr && item->Printable())
        {
            item->Print(canvas, r);
        }
    }
}

TPRPage* TPRPanel::GetReportPage() const
{
    for (TWinControl* p = Parent(); p != nullptr;)
    {
        if (auto* page = dynamic_cast<TPRPage*>(p))
        {
            return page;
        }
        if (dynamic_cast<TPRPanel*>(p) == nullptr)
        {
            return nullptr;
        }
        p = p->Parent();
    }
    return nullptr;
}

void TPRPanel::Paint(TPainter& painter) const
{
    // The panel continues the grid of the page it lies on.
    int dx = 0;
    int dy = 0;
    for (const TControl* c = this; c != nullptr && dynamic_cast<const TPRPage*>(c) == nullptr;
         c = c->Parent())
    {
        dx += c->Left();
        dy += c->Top();
    }
    painter.FillRect(ClientRect(), clWhite);
    PaintGrid(painter, Width(), Height(), dx, dy);
    painter.TextOut(2, 2, Name(), TFont{});
    painter.FrameRect(ClientRect(), clGreen, psDot);
}

// ---- TPRLayoutPanel ----

void TPRLayoutPanel::SetParent(TWinControl* parent)
{
    if (parent != nullptr && dynamic_cast<TPRPanel*>(parent) == nullptr &&
        dynamic_cast<TPRPage*>(parent) == nullptr)
    {
        throw Exception(std::string("TPRPage can not set on ") + parent->ClassName());
    }
    TPRPanel::SetParent(parent);
}

void TPRLayoutPanel::Print(TPRCanvas& canvas, const TRect& rect)
{
    if (m_beforePrint)
    {
        m_beforePrint(*this, canvas, rect);
    }
    TPRPanel::Print(canvas, rect);
    if (m_afterPrint)
    {
        m_afterPrint(*this, canvas, rect);
    }
}

// ---- TPRItem ----

TPRItem::TPRItem(TComponent* owner) : TGraphicControl(owner)
{
    SetBounds(0, 0, 100, 30);
}

void TPRItem::Print(TPRCanvas& /*canvas*/, const TRect& /*rect*/) {}

TPRPage* TPRItem::GetReportPage() const
{
    const auto* panel = dynamic_cast<const TPRPanel*>(Parent());
    return panel != nullptr ? panel->GetReportPage() : nullptr;
}

TPdfDoc* TPRItem::GetMeasuringDocument() const
{
    TPRPage* page = GetReportPage();
    return page != nullptr ? &page->MeasuringDocument() : nullptr;
}

void TPRItem::SetParent(TWinControl* parent)
{
    if (parent != nullptr && dynamic_cast<TPRPanel*>(parent) == nullptr)
    {
        throw Exception("this component must set on TPRPanel");
    }
    TGraphicControl::SetParent(parent);
}

TPdfCanvas& TPRItem::PdfCanvasOf(const TPRCanvas& canvas)
{
    if (canvas.PdfCanvas() == nullptr)
    {
        throw EInvalidOperation("Print --the canvas has no page.");
    }
    return *canvas.PdfCanvas();
}

int TPRItem::PageHeight() const
{
    const TPRPage* page = GetReportPage();
    if (page == nullptr)
    {
        throw EInvalidOperation("Print --the item is not on a TPRPage.");
    }
    return page->Height();
}

// ---- TPRCustomLabel ----

TPRCustomLabel::TPRCustomLabel(TComponent* owner) : TPRItem(owner)
{
    UpdateFont();
}

void TPRCustomLabel::SetFontColor(TColor value)
{
    if (value > 0x0FFFFFFF)
    {
        throw EPdfInvalidValue("the color you selected is not allowed.");
    }
    if (value != m_fontColor)
    {
        m_fontColor = value;
        UpdateFont();
    }
}

void TPRCustomLabel::SetFontName(TPRFontName value)
{
    if (value != m_fontName)
    {
        m_fontName = value;
        UpdateFont();
    }
}

void TPRCustomLabel::SetFontSize(float value)
{
    if (value != m_fontSize && value > 0)
    {
        m_fontSize = value;
        UpdateFont();
    }
}

void TPRCustomLabel::SetFontBold(bool value)
{
    if (value != m_fontBold)
    {
        m_fontBold = value;
        UpdateFont();
    }
}

void TPRCustomLabel::SetFontItalic(bool value)
{
    if (value != m_fontItalic)
    {
        m_fontItalic = value;
        UpdateFont();
    }
}

void TPRCustomLabel::SetCharSpace(float value)
{
    if (value != m_charSpace)
    {
        m_charSpace = value;
    }
}

void TPRCustomLabel::SetWordSpace(float value)
{
    if (value != m_wordSpace && value >= 0)
    {
        m_wordSpace = value;
    }
}

std::string TPRCustomLabel::GetPdfFontName() const
{
    std::string name;
    switch (m_fontName)
    {
    case fnFixedWidth:
        name = "FixedWidth";
        break;
    case fnTimesRoman:
        if (!m_fontBold && !m_fontItalic)
        {
            return "Times-Roman";
        }
        name = "Times";
        break;
    default:
        name = "Arial";
        break;
    }
    if (m_fontBold && m_fontItalic)
    {
        return name + "-BoldItalic";
    }
    if (m_fontBold)
    {
        return name + "-Bold";
    }
    if (m_fontItalic)
    {
        return name + "-Italic";
    }
    return name;
}

void TPRCustomLabel::UpdateFont()
{
    static constexpr const char* kFaces[] = {"Courier New", "Arial", "Times New Roman"};
    m_font.Name = kFaces[m_fontName];
    m_font.Charset = 0;
    // Screen points are three quarters of PDF points at 96 dpi; halves go to the even
    // neighbour, as the default rounding mode does.
    m_font.Size = static_cast<int>(std::nearbyint(static_cast<double>(m_fontSize) * 0.75));
    m_font.Bold = m_fontBold;
    m_font.Italic = m_fontItalic;
    m_font.Color = m_fontColor;
}

// ---- TPRText ----

TPRText::TPRText(TComponent* owner) : TPRCustomLabel(owner) {}

void TPRText::SetLeading(float value)
{
    if (value != m_leading && value >= 0)
    {
        m_leading = value;
    }
}

std::string TPRText::Text() const
{
    std::string joined;
    for (const std::string& line : m_lines)
    {
        joined += line;
        joined += "\r\n";
    }
    const auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    std::size_t first = 0;
    while (first < joined.size() && isBlank(joined[first]))
    {
        ++first;
    }
    std::size_t last = joined.size();
    while (last > first && isBlank(joined[last - 1]))
    {
        --last;
    }
    return joined.substr(first, last - first);
}

void TPRText::SetText(std::string_view text)
{
    m_lines.clear();
    std::size_t start = 0;
    while (start < text.size())
    {
        std::size_t end = start;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n')
        {
            ++end;
        }
        m_lines.emplace_back(text.substr(start, end - start));
        if (end < text.size() && text[end] == '\r')
        {
            ++end;
        }
        if (end < text.size() && text[end] == '\n')
        {
            ++end;
        }
        start = end;
    }
}

void TPRText::Print(TPRCanvas& canvas, const TRect& rect)
{
    TPdfCanvas& pdfCanvas = PdfCanvasOf(canvas);
    const int pageHeight = PageHeight();
    pdfCanvas.SetFont(GetPdfFontName(), FontSize());
    pdfCanvas.SetRGBFillColor(FontColor());
    pdfCanvas.SetCharSpace(CharSpace());
    pdfCanvas.SetWordSpace(WordSpace());
    pdfCanvas.SetLeading(m_leading);
    const TPdfBox box =
        PdfBox(static_cast<float>(rect.Left), static_cast<float>(pageHeight - rect.Top),
               static_cast<float>(rect.Right), static_cast<float>(pageHeight - rect.Bottom));
    pdfCanvas.TextRect(box, Text(), m_wordWrap);
}

void TPRText::Paint(TPainter& painter) const
{
    if (TPdfDoc* measuring = GetMeasuringDocument(); measuring != nullptr)
    {
        try
        {
            PaintText(painter, *measuring->GetCanvas());
        }
        catch (const Exception&)
        {
            // Settings the PDF canvas refuses (a font size above 300, say) fail with their
            // message when printed; a paint must not fail, so the view shows the frame alone.
        }
    }
    painter.FrameRect(ClientRect(), clNavy, psDot);
}

void TPRText::PaintText(TPainter& painter, TPdfCanvas& metrics) const
{
    // Laid out as the canvas's TextRect sets it, in item coordinates with the top line at the
    // top; each character is placed with the spacing the PDF will have.
    metrics.SetFont(GetPdfFontName(), FontSize());
    metrics.SetCharSpace(CharSpace());
    metrics.SetWordSpace(WordSpace());

    const float right = static_cast<float>(Width());
    float lineTop = 0;
    const auto paintLine = [&](std::string_view line) {
        const int count = metrics.MeasureText(line, right);
        float x = 0;
        for (int i = 0; i < count; ++i)
        {
            const std::string ch(1, line[static_cast<std::size_t>(i)]);
            painter.TextOut(static_cast<int>(x), static_cast<int>(lineTop), ch, Font());
            x += metrics.TextWidth(ch) + CharSpace() + (ch == " " ? WordSpace() : 0.0F);
        }
    };
    metrics.TextRectLines(PdfBox(0, static_cast<float>(Height()), right, 0), m_leading, Text(),
                          m_wordWrap, paintLine, [&] { lineTop += m_leading; });
}

// ---- TPRImage ----

TPRImage::TPRImage(TComponent* owner) : TPRItem(owner)
{
    Random().Randomize();
}

void TPRImage::SetPicture(const TPicture* value)
{
    if (value == nullptr)
    {
        m_picture.Clear();
        return;
    }
    const TGraphic* graphic = value->Graphic();
    if (graphic != nullptr && dynamic_cast<const TBitmap*>(graphic) == nullptr)
    {
        throw Exception("only bitmap image is allowed.");
    }
    m_picture.Assign(*value);
}

void TPRImage::EnsureImage(TPdfDoc& doc, const std::string& name, const TGraphic& graphic,
                           const char* creatorName)
{
    if (doc.FindXObject(name) == nullptr)
    {
        doc.AddImage(name, CreatePdfImage(graphic, creatorName));
    }
}

std::string TPRImage::FreeImageName(const TPdfDoc& doc,
                                    const std::function<int()>& nextNumber) const
{
    for (int attempt = 0; attempt < 65535; ++attempt)
    {
        std::string candidate = Name() + std::to_string(nextNumber());
        if (doc.FindXObject(candidate) == nullptr)
        {
            return candidate;
        }
    }
    throw Exception("image count over max value..");
}

void TPRImage::DrawImage(TPdfCanvas& pdfCanvas, int pageHeight, const TRect& rect,
                         const std::string& name, const TGraphic& graphic) const
{
    const auto f = [](int value) { return static_cast<float>(value); };
    if (m_stretch)
    {
        pdfCanvas.DrawXObject(name, f(rect.Left), f(pageHeight - rect.Bottom), f(Width()),
                              f(Height()));
    }
    else
    {
        pdfCanvas.DrawXObjectEx(name, f(rect.Left), f(pageHeight - rect.Top - graphic.Height()),
                                f(graphic.Width()), f(graphic.Height()), f(rect.Left),
                                f(pageHeight - rect.Top - Height()), f(Width()), f(Height()));
    }
}

void TPRImage::Print(TPRCanvas& canvas, const TRect& rect)
{
    const TGraphic* graphic = m_picture.Graphic();
    if (graphic == nullptr || graphic->Empty() || dynamic_cast<const TBitmap*>(graphic) == nullptr)
    {
        return;
    }
    TPdfCanvas& pdfCanvas = PdfCanvasOf(canvas);
    const int pageHeight = PageHeight();
    TPdfDoc& doc = pdfCanvas.GetDoc();
    std::string name = Name();
    if (!m_sharedImage)
    {
        // From one random start, the next free number, wrapping after 65534.
        int value = Random().Next(65534);
        name = FreeImageName(doc, [&value] {
            const int number = value;
            value = value >= 65534 ? 0 : value + 1;
            return number;
        });
    }
    EnsureImage(doc, name, *graphic, "Pdf-Bitmap");
    DrawImage(pdfCanvas, pageHeight, rect, name, *graphic);
}

void TPRImage::Paint(TPainter& painter) const
{
    const TGraphic* graphic = m_picture.Graphic();
    if (graphic != nullptr && !graphic->Empty())
    {
        painter.DrawGraphic(
            m_stretch ? ClientRect() : Bounds(0, 0, graphic->Width(), graphic->Height()), *graphic);
        return;
    }
    painter.TextOut(4, 4, Name(), TFont{});
    painter.FrameRect(ClientRect(), clBlue, psDot);
}
