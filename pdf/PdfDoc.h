#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/PdfTypes.h"
#include "platform/DateTime.h"
#include "platform/NameRegistry.h"

// The document layer of the PDF writer: the cross-reference table and the file layout around the
// objects, the dictionary wrappers (info, catalog, outlines), the font base, the page canvas and
// the document that ties them together.

class TPdfDoc;
class TPdfFont;

// ---------------------------------------------------------------------------------------------
// Cross-reference table and file layout

// One line of the cross-reference table. Entry 0 is the free entry; every other entry owns the
// object that carries its number.
class TPdfXrefEntry
{
public:
    // A null value makes the free entry ("f", generation 65535); otherwise an in-use entry ("n")
    // that takes the object over and copies its generation.
    explicit TPdfXrefEntry(std::unique_ptr<TPdfObject> value);

    const std::string& EntryType() const { return m_entryType; }
    // Where the object's "n 0 obj" line starts in the output; -1 until written.
    std::int64_t ByteOffset() const { return m_byteOffset; }
    void SetByteOffset(std::int64_t offset) { m_byteOffset = offset; }
    std::int32_t GenerationNumber() const { return m_generationNumber; }
    TPdfObject* Value() const { return m_value.get(); } // borrowed; null for the free entry
    // The 18 bytes of the entry's line, without the line end.
    std::string AsString() const;

private:
    std::string m_entryType;
    std::int64_t m_byteOffset = -1;
    std::int32_t m_generationNumber;
    std::unique_ptr<TPdfObject> m_value;
};

// The document's object manager: numbers objects 1, 2, 3 ... in the order they are added and
// owns them.
class TPdfXref : public TPdfObjectMgr
{
public:
    TPdfXref(); // with the free entry 0
    TPdfXref(const TPdfXref&) = delete;
    TPdfXref& operator=(const TPdfXref&) = delete;

    // TPdfObjectMgr:
    TPdfObject& AddObject(std::unique_ptr<TPdfObject>&& object) override;
    // Throws std::out_of_range for a number outside the table.
    TPdfObject* ObjectAt(std::int32_t number) const override;

    // Entries, the free entry included.
    int ItemCount() const { return static_cast<int>(m_entries.size()); }
    // Throws std::out_of_range for a bad index.
    TPdfXrefEntry& Item(int index) const;
    // The cross-reference section, "xref" to the last entry line.
    void WriteToStream(TStream& stream) const;

private:
    std::vector<std::unique_ptr<TPdfXrefEntry>> m_entries;
};

class TPdfHeader
{
public:
    void WriteToStream(TStream& stream) const;
};

class TPdfTrailer
{
public:
    // Attributes start with "Size" 0; the document adds "Root" and "Info".
    explicit TPdfTrailer(TPdfObjectMgr* objectMgr);

    TPdfDictionary& Attributes() { return *m_attributes; }
    const TPdfDictionary& Attributes() const { return *m_attributes; }
    std::int64_t XrefAddress() const { return m_xrefAddress; }
    void SetXrefAddress(std::int64_t address) { m_xrefAddress = address; }
    // "trailer", the dictionary, "startxref", the address and "%%EOF".
    void WriteToStream(TStream& stream) const;

private:
    std::unique_ptr<TPdfDictionary> m_attributes;
    std::int64_t m_xrefAddress = 0;
};

// The decimal form of value ("0" when negative), zero-padded on the left to width characters;
// a longer form is not cut.
std::string PadNumber(std::int64_t value, int width);

// ---------------------------------------------------------------------------------------------
// Enumerations and their names in the file

enum TPdfCompressionMethod : std::uint8_t
{
    cmNone,
};

enum TPdfPageLayout : std::uint8_t
{
    plSinglePage,
    plOneColumn,
    plTwoColumnLeft,
    plTwoColumnRight,
};

enum TPdfPageMode : std::uint8_t
{
    pmUseNone,
    pmUseOutlines,
    pmUseThumbs,
    pmFullScreen,
};

enum TPdfViewerPreference : std::uint8_t
{
    vpHideToolbar,
    vpHideMenubar,
    vpHideWindowUI,
    vpFitWindow,
    vpCenterWindow,
};

enum TPdfDestinationType : std::uint8_t
{
    dtXYZ,
    dtFit,
    dtFitH,
    dtFitV,
    dtFitR,
    dtFitB,
    dtFitBH,
    dtFitBV,
};

// Indexed by the enumeration value.
inline constexpr std::array<const char*, 4> kPdfPageLayoutNames = {
    "SinglePage", "OneColumn", "TwoColumnLeft", "TwoColumnRight"};
inline constexpr std::array<const char*, 4> kPdfPageModeNames = {"UseNone", "UseOutlines",
                                                                 "UseThumbs", "FullScreen"};
inline constexpr std::array<const char*, 5> kPdfViewerPreferenceNames = {
    "HideToolbar", "HideMenubar", "HideWindowUI", "FitWindow", "CenterWindow"};
inline constexpr std::array<const char*, 8> kPdfDestinationTypeNames = {
    "XYZ", "Fit", "FitH", "FitV", "FitR", "FitB", "FitBH", "FitBV"};

// A set of viewer preferences.
class TPdfViewerPreferences
{
public:
    constexpr TPdfViewerPreferences() = default;
    constexpr TPdfViewerPreferences(std::initializer_list<TPdfViewerPreference> members)
    {
        for (TPdfViewerPreference member : members)
        {
            Include(member);
        }
    }

    constexpr bool Contains(TPdfViewerPreference member) const
    {
        return (m_bits & Bit(member)) != 0;
    }
    constexpr void Include(TPdfViewerPreference member)
    {
        m_bits = static_cast<std::uint8_t>(m_bits | Bit(member));
    }
    constexpr void Exclude(TPdfViewerPreference member)
    {
        m_bits = static_cast<std::uint8_t>(m_bits & ~Bit(member));
    }
    constexpr bool Empty() const { return m_bits == 0; }
    constexpr bool operator==(const TPdfViewerPreferences&) const = default;

private:
    static constexpr std::uint8_t Bit(TPdfViewerPreference member)
    {
        return static_cast<std::uint8_t>(1U << member);
    }
    std::uint8_t m_bits = 0;
};

// ---------------------------------------------------------------------------------------------
// Dictionary wrappers

// Gives typed access to one dictionary of the document. The dictionary is borrowed: the
// cross-reference table owns it. Wrappers are owned by the document (or, for fonts, by its
// font list) and die with it.
class TPdfDictionaryWrapper
{
public:
    TPdfDictionaryWrapper() = default;
    virtual ~TPdfDictionaryWrapper() = default;
    TPdfDictionaryWrapper(const TPdfDictionaryWrapper&) = delete;
    TPdfDictionaryWrapper& operator=(const TPdfDictionaryWrapper&) = delete;

    virtual void SetDictionary(TPdfDictionary* dictionary) { m_dictionary = dictionary; }
    TPdfDictionary* Dictionary() const { return m_dictionary; } // borrowed; null until set

private:
    TPdfDictionary* m_dictionary = nullptr;
};

// The document information dictionary. Each setter replaces its entry (moving it to the end).
class TPdfInfo : public TPdfDictionaryWrapper
{
public:
    void SetAuthor(const std::string& value);
    void SetCreationDate(TDateTime value);
    void SetModDate(TDateTime value);
    void SetCreator(const std::string& value);
    void SetTitle(const std::string& value);
    void SetSubject(const std::string& value);
    void SetKeywords(const std::string& value);
};

// A place in the document to jump to. Made and owned by whoever uses it; the catalog and the
// outline entries only borrow it.
class TPdfDestination
{
public:
    // page must be a numbered page dictionary of doc.
    TPdfDestination(TPdfDoc& doc, const TPdfDictionary& page, TPdfDestinationType type);

    TPdfDoc& Doc() const { return *m_doc; }
    const TPdfDictionary& Page() const { return *m_page; }
    TPdfDestinationType DestinationType() const { return m_destinationType; }
    void SetDestinationType(TPdfDestinationType type) { m_destinationType = type; }
    std::int32_t Left() const { return m_left; }
    void SetLeft(std::int32_t value) { m_left = value; }
    std::int32_t Top() const { return m_top; }
    void SetTop(std::int32_t value) { m_top = value; }
    std::int32_t Right() const { return m_right; }
    void SetRight(std::int32_t value) { m_right = value; }
    std::int32_t Bottom() const { return m_bottom; }
    void SetBottom(std::int32_t value) { m_bottom = value; }
    float Zoom() const { return m_zoom; }
    void SetZoom(float value) { m_zoom = value; }

    // The destination as a new array: page reference, type name, operands. A negative zoom of
    // an XYZ destination is set to 0 here.
    std::unique_ptr<TPdfArray> GetValue();

private:
    TPdfDoc* m_doc;
    const TPdfDictionary* m_page;
    TPdfDestinationType m_destinationType;
    std::int32_t m_left = 0;
    std::int32_t m_top = 0;
    std::int32_t m_right = 0;
    std::int32_t m_bottom = 0;
    float m_zoom = 0;
};

// The document catalog.
class TPdfCatalog : public TPdfDictionaryWrapper
{
public:
    void SetPageLayout(TPdfPageLayout value);
    void SetPageMode(TPdfPageMode value);
    void SetNonFullScreenPageMode(TPdfPageMode value);
    void SetViewerPreference(TPdfViewerPreferences value);
    // Puts pages under "Pages" when its "Type" is "Pages"; ignores any other dictionary.
    void SetPages(const TPdfDictionary& pages);

    TPdfDestination* OpenAction() const { return m_openAction; } // borrowed
    void SetOpenAction(TPdfDestination* destination) { m_openAction = destination; }
    // Brings "OpenAction" up to date before a save.
    void SaveOpenAction();

private:
    TPdfDictionary* ViewerPreferences(bool create);

    TPdfDestination* m_openAction = nullptr;
};

// Whatever an outline entry is asked to keep alive with it (the report layer's companion of
// the outline root registers itself here).
class TPdfOutlineReference
{
public:
    TPdfOutlineReference() = default;
    virtual ~TPdfOutlineReference() = default;
    TPdfOutlineReference(const TPdfOutlineReference&) = delete;
    TPdfOutlineReference& operator=(const TPdfOutlineReference&) = delete;
};

class TPdfOutlineEntry : public TPdfDictionaryWrapper
{
public:
    // Makes an entry under parent with a numbered dictionary of its own, hands it to the
    // parent's document and returns it. The entry is not linked into the parent's children.
    // A null parent raises Exception "CreateEntry --invalid parent.".
    static TPdfOutlineEntry& CreateEntry(TPdfOutlineEntry* parent);

    TPdfOutlineEntry* Parent() const { return m_parent; }
    TPdfOutlineEntry* Next() const { return m_next; }
    void SetNext(TPdfOutlineEntry* entry) { m_next = entry; }
    TPdfOutlineEntry* Prev() const { return m_prev; }
    void SetPrev(TPdfOutlineEntry* entry) { m_prev = entry; }
    TPdfOutlineEntry* First() const { return m_first; }
    void SetFirst(TPdfOutlineEntry* entry) { m_first = entry; }
    TPdfOutlineEntry* Last() const { return m_last; }
    void SetLast(TPdfOutlineEntry* entry) { m_last = entry; }
    TPdfDestination* Dest() const { return m_dest; } // borrowed
    void SetDest(TPdfDestination* destination) { m_dest = destination; }
    TPdfDoc& Doc() const { return *m_doc; }
    const std::string& Title() const { return m_title; }
    void SetTitle(std::string title) { m_title = std::move(title); }
    bool Opened() const { return m_opened; }
    void SetOpened(bool opened) { m_opened = opened; }
    std::int32_t Count() const { return m_count; }
    void SetCount(std::int32_t count) { m_count = count; }
    // Owned; freed with the entry.
    TPdfOutlineReference* Reference() const { return m_reference.get(); }
    void SetReference(std::unique_ptr<TPdfOutlineReference> reference)
    {
        m_reference = std::move(reference);
    }

    // Writes the entry's keys, then saves its first child and its next sibling.
    virtual void Save();

protected:
    TPdfOutlineEntry(TPdfDoc& doc, TPdfOutlineEntry* parent, bool opened);
    // Makes, numbers and wraps this entry's dictionary.
    void CreateDictionary();

private:
    TPdfOutlineEntry* m_parent;
    TPdfOutlineEntry* m_next = nullptr;
    TPdfOutlineEntry* m_prev = nullptr;
    TPdfOutlineEntry* m_first = nullptr;
    TPdfOutlineEntry* m_last = nullptr;
    TPdfDestination* m_dest = nullptr;
    TPdfDoc* m_doc;
    std::string m_title;
    bool m_opened;
    std::int32_t m_count = 0;
    std::unique_ptr<TPdfOutlineReference> m_reference;
};

class TPdfOutlineRoot : public TPdfOutlineEntry
{
public:
    // Makes the root (/Type /Outlines, opened, count 0) with a numbered dictionary, hands it to
    // the document and returns it.
    static TPdfOutlineRoot& CreateRoot(TPdfDoc& doc);

    // TPdfOutlineEntry:
    void Save() override;

private:
    explicit TPdfOutlineRoot(TPdfDoc& doc);
};

// ---------------------------------------------------------------------------------------------
// Fonts

// The base of the standard fonts. The font's dictionary is numbered in the document's
// cross-reference table; the font object belongs to the document's font list.
class TPdfFont : public TPdfDictionaryWrapper
{
public:
    // The base keeps the name only; subclasses build and number their dictionary through
    // objectMgr.
    TPdfFont(TPdfObjectMgr& objectMgr, std::string name);

    // The registered name the font was made under, for example "Arial-Bold".
    const std::string& Name() const { return m_name; }
    // Advance width of the byte at position (counted from 1), in thousandths of the text size.
    virtual int GetCharWidth(std::string_view text, int position) const;

private:
    std::string m_name;
};

// The class object of a font, entered in the name registry.
class TPdfFontClass : public TRegisteredClass
{
public:
    virtual std::unique_ptr<TPdfFont> Create(TPdfObjectMgr& objectMgr,
                                             const std::string& name) const = 0;
};

// ---------------------------------------------------------------------------------------------
// Page canvas

// The text state of a canvas.
class TPdfCanvasAttribute
{
public:
    float WordSpace() const { return m_wordSpace; }
    float CharSpace() const { return m_charSpace; }
    float FontSize() const { return m_fontSize; }
    TPdfFont* Font() const { return m_font; } // borrowed from the document's font list
    float Leading() const { return m_leading; }
    std::uint16_t HorizontalScaling() const { return m_horizontalScaling; }

    // Each setter raises EPdfInvalidValue for a value out of range (NaN included) and then
    // changes nothing.
    void SetWordSpace(float value);
    void SetCharSpace(float value);
    void SetFontSize(float value);
    void SetHorizontalScaling(int value);
    void SetLeading(float value);
    void SetFont(TPdfFont* font) { m_font = font; }

    // Width of text in the current state; the spacing after the last character is not
    // counted.
    float TextWidth(std::string_view text) const;
    // How many leading characters of text fit into width.
    int MeasureText(std::string_view text, float width) const;

private:
    float CharAdvance(std::string_view text, int position) const;

    float m_wordSpace = 0;
    float m_charSpace = 0;
    float m_fontSize = 0;
    TPdfFont* m_font = nullptr;
    float m_leading = 0;
    std::uint16_t m_horizontalScaling = 0;
};

// Writes content-stream operators into the current page of its document and keeps the text
// state. Owned by the document; the page and its contents are borrowed.
class TPdfCanvas
{
public:
    explicit TPdfCanvas(TPdfDoc* doc); // borrowed
    virtual ~TPdfCanvas() = default;
    TPdfCanvas(const TPdfCanvas&) = delete;
    TPdfCanvas& operator=(const TPdfCanvas&) = delete;

    // Makes page current: stores the text state in the page left, restores a page's stored
    // state or starts a fresh page with Arial 10.
    void SetPage(TPdfDictionary* page);
    // Forgets the page, its contents and the font (they die with the document).
    void Detach();
    TPdfDictionary* Page() const { return m_page; }         // borrowed; null without a page
    TPdfStream* Contents() const { return m_contents; }     // borrowed; null without a page
    TPdfDictionary& GetPage() const;                       // raises without a page
    TPdfDoc& GetDoc() const;
    TPdfCanvasAttribute& Attribute() { return *m_attribute; }
    const TPdfCanvasAttribute& Attribute() const { return *m_attribute; }
    bool MeasureOnly() const { return m_measureOnly; }
    void SetMeasureOnly(bool value) { m_measureOnly = value; }

    // The current page's MediaBox width and height.
    void SetPageWidth(int value);
    void SetPageHeight(int value);

    void WriteContent(std::string_view text);

    // Operator writers.
    void GSave();
    void GRestore();
    void Concat(float a, float b, float c, float d, float e, float f);
    void Rectangle(float x, float y, float width, float height);
    void Clip();
    void NewPath();
    void BeginText();
    void EndText();
    void MoveTextPoint(float x, float y);
    void MoveToNextLine();
    void ShowText(std::string_view text);
    void SetFontAndSize(std::string_view fontReference, float size);
    void ExecuteXObject(std::string_view name);
    // Colour as 0x00BBGGRR; 0 or negative is black.
    void SetRGBFillColor(std::int32_t color);

    // Text-state changes that write their operator only when the value changes.
    void SetFont(const std::string& name, float size);
    void SetCharSpace(float value);
    void SetWordSpace(float value);
    void SetLeading(float value);

    float TextWidth(std::string_view text) const { return m_attribute->TextWidth(text); }
    int MeasureText(std::string_view text, float width) const
    {
        return m_attribute->MeasureText(text, width);
    }
    // The word starting at position (counted from 1) with its closing space or CR LF; position
    // moves past it. Beyond the end: "" and position unchanged.
    std::string GetNextWord(std::string_view text, int& position) const;
    // Sets text into rect line by line, breaking at words (when wordWrap) and at CR LF.
    void TextRect(const TPdfBox& rect, std::string_view text, bool wordWrap);
    // Draws a registered XObject filling the box at (x, y).
    void DrawXObject(const std::string& name, float x, float y, float width, float height);
    // As DrawXObject, clipped to the clip box.
    void DrawXObjectEx(const std::string& name, float x, float y, float width, float height,
                       float clipX, float clipY, float clipWidth, float clipHeight);

private:
    TPdfXObject& EnterXObject(const std::string& name, const char* notFoundMessage);
    void ShowTextCut(std::string_view line, float width);
    TPdfArray& MediaBox();

    TPdfStream* m_contents = nullptr;
    TPdfDictionary* m_page = nullptr;
    TPdfDoc* m_doc;
    std::unique_ptr<TPdfCanvasAttribute> m_attribute;
    bool m_measureOnly = false;
};

// ---------------------------------------------------------------------------------------------
// Document

class TPdfDoc
{
public:
    TPdfDoc();
    ~TPdfDoc();
    TPdfDoc(const TPdfDoc&) = delete;
    TPdfDoc& operator=(const TPdfDoc&) = delete;

    // Discards any open document and opens a new one (catalog, outlines when UseOutlines, info,
    // page tree).
    void NewDocument();
    // Frees everything of the open document and detaches the canvas; nothing when closed.
    void CloseDocument();
    // NewDocument, AddPage, then a canvas that measures and writes nothing.
    void OpenMeasuringDocument();
    bool IsOpen() const { return m_isOpen; }

    // Appends a page and makes it the canvas's current page.
    void AddPage();

    // Accessors of the open document; each raises on a closed document. Results are borrowed.
    TPdfCanvas* GetCanvas() const;
    TPdfInfo* GetInfo();
    TPdfCatalog* GetRoot() const;
    TPdfOutlineRoot* GetOutlineRoot() const;
    // The document's font of that name (compared exactly), made on first use.
    TPdfFont* GetFont(const std::string& name);
    // Makes a font of the class registered under name and gives it the next resource name.
    // This and the three below raise EPdfInvalidOperation on a closed document.
    TPdfFont* CreateFont(const std::string& name);

    // Gives an XObject a resource name. The direct form numbers the object (the document keeps
    // it, also when a later check fails); the other form takes an object already numbered
    // here.
    TPdfXObject& RegisterXObject(std::unique_ptr<TPdfXObject> object, const std::string& name);
    void RegisterXObject(TPdfXObject& numbered, const std::string& name);
    // Numbers an image XObject and registers it under name.
    TPdfImage& AddImage(const std::string& name, std::unique_ptr<TPdfImage> image);
    // The registered XObject whose "Name" is name, or null.
    TPdfXObject* FindXObject(std::string_view name) const;

    // Writes the whole file from the stream's position on; the document stays open.
    void SaveToStream(TStream& stream);

    // Hands a wrapper to the document, which frees it when it closes.
    TPdfDictionaryWrapper& AddWrapper(std::unique_ptr<TPdfDictionaryWrapper> wrapper);
    TPdfXref* Xref() const { return m_xref.get(); } // borrowed; null while closed

    std::uint16_t NewPageWidth() const { return m_newPageWidth; }
    void SetNewPageWidth(std::uint16_t value) { m_newPageWidth = value; }
    std::uint16_t NewPageHeight() const { return m_newPageHeight; }
    void SetNewPageHeight(std::uint16_t value) { m_newPageHeight = value; }
    // These three take effect at the next NewDocument.
    TPdfCompressionMethod CompressionMethod() const { return m_compressionMethod; }
    void SetCompressionMethod(TPdfCompressionMethod value) { m_compressionMethod = value; }
    bool UseOutlines() const { return m_useOutlines; }
    void SetUseOutlines(bool value) { m_useOutlines = value; }
    const std::string& Producer() const { return m_producer; }
    void SetProducer(std::string value) { m_producer = std::move(value); }

private:
    void CheckOpen(const char* message) const;
    void CreateCatalog();
    void CreateOutlines();
    void CreateInfo();
    void CreatePages();

    TPdfCatalog* m_root = nullptr;
    TPdfDictionary* m_currentPages = nullptr;
    std::unique_ptr<TPdfCanvas> m_canvas;
    std::unique_ptr<TPdfHeader> m_header;
    std::unique_ptr<TPdfTrailer> m_trailer;
    std::unique_ptr<TPdfXref> m_xref;
    TPdfInfo* m_info = nullptr;
    bool m_isOpen = false;
    std::vector<std::unique_ptr<TPdfFont>> m_fonts;
    std::vector<std::unique_ptr<TPdfDictionaryWrapper>> m_wrappers;
    TPdfOutlineRoot* m_outlineRoot = nullptr;
    std::unique_ptr<TPdfArray> m_xObjects;
    std::uint16_t m_newPageWidth = 596;
    std::uint16_t m_newPageHeight = 842;
    TPdfCompressionMethod m_compressionMethod = cmNone;
    bool m_useOutlines = false;
    std::string m_producer;
};

// Appends kid to node's "Kids" (as a reference) and sets "Count" to the number of kids.
void AddKid(TPdfDictionary& node, const TPdfDictionary& kid);
// page's "Resources" sub-dictionary name ("Font", "XObject"), or null.
TPdfDictionary* GetPageResource(const TPdfDictionary& page, std::string_view name);
