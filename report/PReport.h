#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pdf/PdfCanvas.h"
#include "pdf/PdfDoc.h"
#include "pdf/PdfWrappers.h"
#include "platform/DateTime.h"
#include "platform/Graphics.h"
#include "report/Components.h"

// The report layout: a report that owns a PDF document while one is made, page components that
// print as PDF pages, panels that lay printable items out, and the items themselves (text and
// pictures). Coordinates are integers in the parent's client area, origin top-left, y downward,
// one unit per PDF point; printing maps a page y to PDF y = page height - y.

class TPRPage;
class TPRPanel;

// What pages, panels and items draw through while they print.
class TPRCanvas
{
public:
    // Borrowed from the report's document; null until the report prints a page.
    TPdfCanvas* PdfCanvas() const { return m_pdfCanvas; }
    void SetPdfCanvas(TPdfCanvas* canvas) { m_pdfCanvas = canvas; }

private:
    TPdfCanvas* m_pdfCanvas = nullptr;
};

// A report-side companion of a PDF outline entry.
class TPROutlineEntry : public TPdfOutlineReference
{
public:
    TPdfOutlineEntry& Data() const { return *m_data; }

protected:
    explicit TPROutlineEntry(TPdfOutlineEntry& data) : m_data(&data) {}

private:
    TPdfOutlineEntry* m_data; // borrowed
};

class TPROutlineRoot : public TPROutlineEntry
{
public:
    // Wraps doc's outline root and hands the wrapper to it: the outline root owns it, so it dies
    // with the document. Returns the wrapper.
    static TPROutlineRoot& CreateRoot(TPdfDoc& doc);

private:
    explicit TPROutlineRoot(TPdfOutlineRoot& root) : TPROutlineEntry(root) {}
};

// The component base of reports.
class TAbstractPReport : public TComponent
{
public:
    using TComponent::TComponent;
    const char* ClassName() const override { return "TAbstractPReport"; }
};

// Carries the document properties, owns the PDF document between StartDocument and
// EndDocument / AbortDocument, and prints pages onto it.
class TPReport : public TAbstractPReport
{
public:
    // FileName "default.pdf", CreationDate now, no document.
    explicit TPReport(TComponent* owner);
    // Aborts an open document.
    ~TPReport() override;

    const char* ClassName() const override { return "TPReport"; }

    // Discards an open document, then makes a new one from the properties as they stand.
    void StartDocument();
    // Adds a PDF page and prints page onto it. Raises EInvalidOperation without a document.
    void PrintPage(TPRPage& page);
    // Writes the document to FileName and closes it. The file appears complete or not at all:
    // the document goes to a temporary file in the same folder, which then replaces FileName.
    // On failure nothing is left behind, an existing FileName is untouched and the document
    // stays open. Raises EInvalidOperation without a document, the document's own errors
    // unchanged, and EFileError for the file system's.
    void EndDocument();
    // Discards an open document; touches no file.
    void AbortDocument();

    const std::string& FileName() const { return m_fileName; }
    void SetFileName(std::string value) { m_fileName = std::move(value); }
    std::int32_t PageCount() const { return m_pageCount; }

    // The guarded setters raise EPdfInvalidOperation while a document is open.
    const std::string& Author() const { return m_author; }
    void SetAuthor(const std::string& value);
    TDateTime CreationDate() const { return m_creationDate; }
    void SetCreationDate(TDateTime value);
    const std::string& Creator() const { return m_creator; }
    void SetCreator(const std::string& value);
    const std::string& Keywords() const { return m_keywords; }
    void SetKeywords(const std::string& value);
    TDateTime ModDate() const { return m_modDate; }
    void SetModDate(TDateTime value);
    const std::string& Subject() const { return m_subject; }
    void SetSubject(const std::string& value);
    const std::string& Title() const { return m_title; }
    void SetTitle(const std::string& value);
    TPdfPageMode PageMode() const { return m_pageMode; }
    void SetPageMode(TPdfPageMode value);
    // pmFullScreen is stored as pmUseNone.
    TPdfPageMode NonFullScreenPageMode() const { return m_nonFullScreenPageMode; }
    void SetNonFullScreenPageMode(TPdfPageMode value);
    TPdfPageLayout PageLayout() const { return m_pageLayout; }
    void SetPageLayout(TPdfPageLayout value);
    TPdfCompressionMethod CompressionMethod() const { return m_compressionMethod; }
    void SetCompressionMethod(TPdfCompressionMethod value) { m_compressionMethod = value; }
    bool UseOutlines() const { return m_useOutlines; }
    void SetUseOutlines(bool value);
    TPdfViewerPreferences ViewerPreference() const { return m_viewerPreference; }
    void SetViewerPreference(TPdfViewerPreferences value);
    const std::string& Producer() const { return m_producer; }
    void SetProducer(std::string value) { m_producer = std::move(value); }

private:
    void CheckClosed(const char* message) const;

    std::string m_fileName = "default.pdf";
    std::int32_t m_pageCount = 0;
    std::string m_author;
    TDateTime m_creationDate = 0;
    std::string m_creator;
    std::string m_keywords;
    TDateTime m_modDate = 0;
    std::string m_subject;
    std::string m_title;
    std::unique_ptr<TPRCanvas> m_canvas;
    std::unique_ptr<TPdfDoc> m_doc;
    TPdfPageMode m_pageMode = pmUseNone;
    TPdfPageMode m_nonFullScreenPageMode = pmUseNone;
    TPdfPageLayout m_pageLayout = plSinglePage;
    TPdfCompressionMethod m_compressionMethod = cmNone;
    bool m_useOutlines = false;
    TPROutlineRoot* m_outlineRoot = nullptr; // owned by the document's outline root
    TPdfViewerPreferences m_viewerPreference;
    std::string m_producer;
};

using TPRPrintPageEvent = std::function<void(TPRPage& sender, TPRCanvas& canvas)>;
using TPRPrintPanelEvent =
    std::function<void(TPRPanel& sender, TPRCanvas& canvas, const TRect& rect)>;

// One PDF page: its size becomes the page's MediaBox, its margins shrink the area its panels are
// aligned in. It keeps a measuring document of its own for the design view's text metrics.
class TPRPage : public TCustomPanel
{
public:
    // 596 x 842, margins 32, raised bevel of 1.
    explicit TPRPage(TComponent* owner);
    ~TPRPage() override;

    const char* ClassName() const override { return "TPRPage"; }

    // Each margin setter ignores its value when it equals the current one, is negative, or is
    // not smaller than Width / 2; otherwise it stores it and aligns the children again.
    std::int32_t MarginTop() const { return m_marginTop; }
    void SetMarginTop(std::int32_t value);
    std::int32_t MarginLeft() const { return m_marginLeft; }
    void SetMarginLeft(std::int32_t value);
    std::int32_t MarginRight() const { return m_marginRight; }
    void SetMarginRight(std::int32_t value);
    std::int32_t MarginBottom() const { return m_marginBottom; }
    void SetMarginBottom(std::int32_t value);

    const TPRPrintPageEvent& OnPrintPage() const { return m_onPrintPage; }
    void SetOnPrintPage(TPRPrintPageEvent handler) { m_onPrintPage = std::move(handler); }

    // Sizes the current PDF page, runs OnPrintPage, then prints the panels in child order with
    // their bounds (page coordinates).
    void Print(TPRCanvas& canvas);

    // Opened for measuring only; never written.
    TPdfDoc& MeasuringDocument() const { return *m_measuringDocument; }

    // TControl:
    void Paint(TPainter& painter) const override;

protected:
    // TWinControl: the children get the client area less the margins (and the bevel).
    void AlignControls(TControl* control, TRect rect) override;

private:
    void SetMargin(std::int32_t& margin, std::int32_t value);

    std::unique_ptr<TPdfDoc> m_measuringDocument;
    std::int32_t m_marginTop = 32;
    std::int32_t m_marginLeft = 32;
    std::int32_t m_marginRight = 32;
    std::int32_t m_marginBottom = 32;
    TPRPrintPageEvent m_onPrintPage;
};

// Groups printable items and other panels.
class TPRPanel : public TCustomPanel
{
public:
    // Height 100, no bevel.
    explicit TPRPanel(TComponent* owner);

    const char* ClassName() const override { return "TPRPanel"; }

    // Prints the children in child order, each with its bounds moved by (rect.Left, rect.Top):
    // panels always, items when Printable. rect is the panel's own rectangle in page
    // coordinates.
    virtual void Print(TPRCanvas& canvas, const TRect& rect);
    // The page the panel lies on (through its parents), or null when it lies on none.
    TPRPage* GetReportPage() const;

    // TControl:
    void Paint(TPainter& painter) const override;
};

class TPRLayoutPanel : public TPRPanel
{
public:
    using TPRPanel::TPRPanel;

    const char* ClassName() const override { return "TPRLayoutPanel"; }

    const TPRPrintPanelEvent& AfterPrint() const { return m_afterPrint; }
    void SetAfterPrint(TPRPrintPanelEvent handler) { m_afterPrint = std::move(handler); }
    const TPRPrintPanelEvent& BeforePrint() const { return m_beforePrint; }
    void SetBeforePrint(TPRPrintPanelEvent handler) { m_beforePrint = std::move(handler); }

    // TControl: only a panel or a page may hold it (Exception otherwise, parent unchanged).
    void SetParent(TWinControl* parent) override;
    // TPRPanel: BeforePrint, the children, AfterPrint.
    void Print(TPRCanvas& canvas, const TRect& rect) override;

private:
    TPRPrintPanelEvent m_afterPrint;
    TPRPrintPanelEvent m_beforePrint;
};

// A printable leaf placed on a panel.
class TPRItem : public TGraphicControl
{
public:
    // 100 x 30, printable.
    explicit TPRItem(TComponent* owner);

    const char* ClassName() const override { return "TPRItem"; }

    bool Printable() const { return m_printable; }
    void SetPrintable(bool value) { m_printable = value; }

    // Prints the item into rect (page coordinates); the base prints nothing.
    virtual void Print(TPRCanvas& canvas, const TRect& rect);
    // The page through the parent panel, or null when the item lies on no page.
    TPRPage* GetReportPage() const;
    // That page's measuring document, or null.
    TPdfDoc* GetMeasuringDocument() const;

    // TControl: only a panel may hold it (Exception otherwise, parent unchanged).
    void SetParent(TWinControl* parent) override;

protected:
    // What printing needs: the PDF canvas (raises when the report canvas has none) and the
    // height of the item's page, which maps y (raises when the item lies on no page).
    static TPdfCanvas& PdfCanvasOf(const TPRCanvas& canvas);
    int PageHeight() const;

private:
    bool m_printable = true;
};

enum TPRFontName
{
    fnFixedWidth,
    fnArial,
    fnTimesRoman
};

// The font and spacing settings of text items.
class TPRCustomLabel : public TPRItem
{
public:
    explicit TPRCustomLabel(TComponent* owner);

    const char* ClassName() const override { return "TPRCustomLabel"; }

    // Raises EPdfInvalidValue above 0x0FFFFFFF; negative values (system colours) pass.
    TColor FontColor() const { return m_fontColor; }
    void SetFontColor(TColor value);
    TPRFontName FontName() const { return m_fontName; }
    void SetFontName(TPRFontName value);
    // Values of 0 or less are ignored.
    float FontSize() const { return m_fontSize; }
    void SetFontSize(float value);
    bool FontBold() const { return m_fontBold; }
    void SetFontBold(bool value);
    bool FontItalic() const { return m_fontItalic; }
    void SetFontItalic(bool value);
    float CharSpace() const { return m_charSpace; }
    void SetCharSpace(float value);
    // Negative values are ignored.
    float WordSpace() const { return m_wordSpace; }
    void SetWordSpace(float value);

    // The registered name of the standard font these settings select, e.g. "Times-BoldItalic".
    std::string GetPdfFontName() const;
    // The on-screen font mirroring the settings.
    const TFont& Font() const { return m_font; }

private:
    void UpdateFont();

    TColor m_fontColor = clBlack;
    TPRFontName m_fontName = fnArial;
    float m_fontSize = 12;
    bool m_fontBold = false;
    bool m_fontItalic = false;
    float m_charSpace = 0;
    float m_wordSpace = 0;
    TFont m_font;
};

class TPRText : public TPRCustomLabel
{
public:
    explicit TPRText(TComponent* owner);

    const char* ClassName() const override { return "TPRText"; }

    bool WordWrap() const { return m_wordWrap; }
    void SetWordWrap(bool value) { m_wordWrap = value; }
    // Negative values are ignored.
    float Leading() const { return m_leading; }
    void SetLeading(float value);
    const std::vector<std::string>& Lines() const { return m_lines; }
    void SetLines(std::vector<std::string> lines) { m_lines = std::move(lines); }
    // The lines, each followed by CR LF, with leading and trailing characters of code 32 or
    // below removed.
    std::string Text() const;
    // Replaces the lines by text split at CR LF, CR or LF; "" leaves no lines.
    void SetText(std::string_view text);

    // TPRItem: font, colour and spacing, then the text set into rect.
    void Print(TPRCanvas& canvas, const TRect& rect) override;
    // TControl:
    void Paint(TPainter& painter) const override;

private:
    void PaintText(TPainter& painter, TPdfCanvas& metrics) const;

    bool m_wordWrap = false;
    float m_leading = 14;
    std::vector<std::string> m_lines;
};

// A bitmap picture item. Its constructor reseeds the process-wide random generator from the
// clock, as every picture item does.
class TPRImage : public TPRItem
{
public:
    explicit TPRImage(TComponent* owner);

    const char* ClassName() const override { return "TPRImage"; }

    // The item's own picture. Content put here directly is not checked; Print skips content of
    // the wrong kind.
    TPicture& Picture() { return m_picture; }
    const TPicture& Picture() const { return m_picture; }
    // Copies value (null clears). Accepts an empty picture or a bitmap; anything else raises
    // Exception "only bitmap image is allowed.".
    virtual void SetPicture(const TPicture* value);
    // Shared: one image per document under the item's Name, reused by every page. Unshared: a
    // new image per printed page under Name followed by a free number.
    bool SharedImage() const { return m_sharedImage; }
    void SetSharedImage(bool value) { m_sharedImage = value; }
    // Stretched to the item, or at its natural size clipped to the item.
    bool Stretch() const { return m_stretch; }
    void SetStretch(bool value) { m_stretch = value; }

    // TPRItem:
    void Print(TPRCanvas& canvas, const TRect& rect) override;
    // TControl:
    void Paint(TPainter& painter) const override;

protected:
    // Registers an image of graphic under name unless the document has one of that name.
    static void EnsureImage(TPdfDoc& doc, const std::string& name, const TGraphic& graphic,
                            const char* creatorName);
    // The first of up to 65535 names Name followed by a number in decimal that doc has no image
    // of, nextNumber giving the numbers in turn. Raises Exception "image count over max
    // value.." when every one is taken.
    std::string FreeImageName(const TPdfDoc& doc, const std::function<int()>& nextNumber) const;
    // Draws the registered image name into rect (page coordinates) as Stretch says.
    void DrawImage(TPdfCanvas& pdfCanvas, int pageHeight, const TRect& rect,
                   const std::string& name, const TGraphic& graphic) const;

private:
    TPicture m_picture;
    bool m_sharedImage = true;
    bool m_stretch = true;
};
