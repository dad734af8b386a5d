#include "pdf/PdfDoc.h"

#include <charconv>
#include <cmath>
#include <string>

#include "pdf/PdfFonts.h"
#include "platform/Services.h"

namespace
{

// Offsets are written in ten digits.
constexpr std::int64_t kMaxOffset = 9'999'999'999;

std::string Decimal(std::int64_t value)
{
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

void CheckOffset(std::int64_t offset)
{
    if (offset > kMaxOffset)
    {
        throw EPdfInvalidOperation("SaveToStream --file too large.");
    }
}

// Replaces the value of an existing name entry in place, or adds the entry at the end.
void SetNameEntry(TPdfDictionary& dictionary, std::string_view key, const char* value)
{
    if (TPdfName* existing = dictionary.LookupName(key))
    {
        existing->SetValue(value);
        return;
    }
    dictionary.Put(key, std::make_unique<TPdfName>(value));
}

TPdfDictionary& Wrapped(const TPdfDictionaryWrapper& wrapper)
{
    return *wrapper.Dictionary();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Cross-reference table and file layout

TPdfXrefEntry::TPdfXrefEntry(std::unique_ptr<TPdfObject> value)
    : m_entryType(value ? "n" : "f"),
      m_generationNumber(value ? value->GenerationNumber() : 65535), m_value(std::move(value))
{
}

std::string TPdfXrefEntry::AsString() const
{
    return PadNumber(m_byteOffset, 10) + " " + PadNumber(m_generationNumber, 5) + " " +
           m_entryType;
}

TPdfXref::TPdfXref()
{
    m_entries.push_back(std::make_unique<TPdfXrefEntry>(nullptr));
}

TPdfObject& TPdfXref::AddObject(std::unique_ptr<TPdfObject>&& object)
{
    if (!object || object->ObjectKind() != okDirect)
    {
        throw EPdfInvalidOperation("AddObject --wrong object type.");
    }
    TPdfObject& stored = *object;
    m_entries.push_back(std::make_unique<TPdfXrefEntry>(std::move(object)));
    stored.SetObjectNumber(static_cast<std::int32_t>(m_entries.size() - 1));
    return stored;
}

TPdfObject* TPdfXref::ObjectAt(std::int32_t number) const
{
    if (number < 0)
    {
        throw std::out_of_range("TPdfXref::ObjectAt");
    }
    return m_entries.at(static_cast<std::size_t>(number))->Value();
}

TPdfXrefEntry& TPdfXref::Item(int index) const
{
    if (index < 0)
    {
        throw std::out_of_range("TPdfXref::Item");
    }
    return *m_entries.at(static_cast<std::size_t>(index));
}

void TPdfXref::WriteToStream(TStream& stream) const
{
    std::string text = "xref\r\n0 " + Decimal(ItemCount()) + "\r\n";
    text.reserve(text.size() + m_entries.size() * 20);
    for (const auto& entry : m_entries)
    {
        text += entry->AsString();
        text += "\r\n";
    }
    WriteString(text, stream);
}

void TPdfHeader::WriteToStream(TStream& stream) const
{
    WriteString("%PDF-1.2 \r\n", stream);
}

TPdfTrailer::TPdfTrailer(TPdfObjectMgr* objectMgr)
    : m_attributes(std::make_unique<TPdfDictionary>(objectMgr))
{
    m_attributes->Put("Size", std::make_unique<TPdfNumber>(0));
}

void TPdfTrailer::WriteToStream(TStream& stream) const
{
    WriteString("trailer\r\n", stream);
    m_attributes->WriteInline(stream);
    WriteString("\r\nstartxref\r\n" + Decimal(m_xrefAddress) + "\r\n%%EOF\r\n", stream);
}

std::string PadNumber(std::int64_t value, int width)
{
    std::string text = value < 0 ? std::string("0") : Decimal(value);
    if (static_cast<int>(text.size()) < width)
    {
        text.insert(0, static_cast<std::size_t>(width) - text.size(), '0');
    }
    return text;
}

// ---------------------------------------------------------------------------------------------
// Info

void TPdfInfo::SetAuthor(const std::string& value)
{
    Wrapped(*this).Put("Author", std::make_unique<TPdfText>(value));
}

void TPdfInfo::SetCreationDate(TDateTime value)
{
    Wrapped(*this).Put("CreationDate", std::make_unique<TPdfText>(FormatPdfDate(value)));
}

void TPdfInfo::SetModDate(TDateTime value)
{
    Wrapped(*this).Put("ModDate", std::make_unique<TPdfText>(FormatPdfDate(value)));
}

void TPdfInfo::SetCreator(const std::string& value)
{
    Wrapped(*this).Put("Creator", std::make_unique<TPdfText>(value));
}

void TPdfInfo::SetTitle(const std::string& value)
{
    Wrapped(*this).Put("Title", std::make_unique<TPdfText>(value));
}

void TPdfInfo::SetSubject(const std::string& value)
{
    Wrapped(*this).Put("Subject", std::make_unique<TPdfText>(value));
}

void TPdfInfo::SetKeywords(const std::string& value)
{
    Wrapped(*this).Put("Keywords", std::make_unique<TPdfText>(value));
}

// ---------------------------------------------------------------------------------------------
// Destinations and the catalog

TPdfDestination::TPdfDestination(TPdfDoc& doc, const TPdfDictionary& page,
                                 TPdfDestinationType type)
    : m_doc(&doc), m_page(&page), m_destinationType(type)
{
}

std::unique_ptr<TPdfArray> TPdfDestination::GetValue()
{
    auto value = std::make_unique<TPdfArray>(m_doc->Xref());
    value->Append(*m_page);
    value->Append(std::make_unique<TPdfName>(kPdfDestinationTypeNames.at(m_destinationType)));
    // Coordinates below -100 mean "keep the viewer's current value".
    auto coordinateOrNull = [&value](std::int32_t coordinate) {
        if (coordinate < -100)
        {
            value->Append(std::make_unique<TPdfNull>());
        }
        else
        {
            value->Append(std::make_unique<TPdfNumber>(coordinate));
        }
    };
    switch (m_destinationType)
    {
    case dtXYZ:
        coordinateOrNull(m_left);
        coordinateOrNull(m_top);
        if (m_zoom < 0)
        {
            m_zoom = 0;
        }
        value->Append(std::make_unique<TPdfReal>(m_zoom));
        break;
    case dtFit:
    case dtFitB:
        break;
    case dtFitH:
    case dtFitBH:
        coordinateOrNull(m_top);
        break;
    case dtFitV:
    case dtFitBV:
        coordinateOrNull(m_left);
        break;
    case dtFitR:
        value->Append(std::make_unique<TPdfNumber>(m_left));
        value->Append(std::make_unique<TPdfNumber>(m_bottom));
        value->Append(std::make_unique<TPdfNumber>(m_right));
        value->Append(std::make_unique<TPdfNumber>(m_top));
        break;
    }
    return value;
}

void TPdfCatalog::SetPageLayout(TPdfPageLayout value)
{
    SetNameEntry(Wrapped(*this), "PageLayout", kPdfPageLayoutNames.at(value));
}

void TPdfCatalog::SetPageMode(TPdfPageMode value)
{
    SetNameEntry(Wrapped(*this), "PageMode", kPdfPageModeNames.at(value));
}

TPdfDictionary* TPdfCatalog::ViewerPreferences(bool create)
{
    TPdfDictionary& catalog = Wrapped(*this);
    TPdfDictionary* preferences = catalog.LookupDictionary("ViewerPreferences");
    if (preferences == nullptr && create)
    {
        preferences = static_cast<TPdfDictionary*>(&catalog.Put(
            "ViewerPreferences", std::make_unique<TPdfDictionary>(catalog.ObjectMgr())));
    }
    return preferences;
}

void TPdfCatalog::SetNonFullScreenPageMode(TPdfPageMode value)
{
    TPdfDictionary& preferences = *ViewerPreferences(true);
    if (value == pmUseNone || value == pmFullScreen)
    {
        preferences.Remove("NonFullScreenPageMode");
        return;
    }
    SetNameEntry(preferences, "NonFullScreenPageMode", kPdfPageModeNames.at(value));
}

void TPdfCatalog::SetViewerPreference(TPdfViewerPreferences value)
{
    TPdfDictionary* preferences = ViewerPreferences(!value.Empty());
    if (preferences == nullptr)
    {
        return;
    }
    for (std::size_t i = 0; i < kPdfViewerPreferenceNames.size(); ++i)
    {
        const auto member = static_cast<TPdfViewerPreference>(i);
        if (value.Contains(member))
        {
            preferences->Put(kPdfViewerPreferenceNames[i], std::make_unique<TPdfBoolean>(true));
        }
        else
        {
            preferences->Remove(kPdfViewerPreferenceNames[i]);
        }
    }
}

void TPdfCatalog::SetPages(const TPdfDictionary& pages)
{
    if (GetTypeOf(pages) == "Pages")
    {
        Wrapped(*this).Put("Pages", pages);
    }
}

void TPdfCatalog::SaveOpenAction()
{
    if (m_openAction != nullptr)
    {
        Wrapped(*this).Put("OpenAction", m_openAction->GetValue());
    }
    else
    {
        Wrapped(*this).Remove("OpenAction");
    }
}

// ---------------------------------------------------------------------------------------------
// Outlines

TPdfOutlineEntry::TPdfOutlineEntry(TPdfDoc& doc, TPdfOutlineEntry* parent, bool opened)
    : m_parent(parent), m_doc(&doc), m_opened(opened)
{
}

void TPdfOutlineEntry::CreateDictionary()
{
    TPdfXref& xref = *m_doc->Xref();
    SetDictionary(&xref.Add(std::make_unique<TPdfDictionary>(&xref)));
}

TPdfOutlineEntry& TPdfOutlineEntry::CreateEntry(TPdfOutlineEntry* parent)
{
    if (parent == nullptr)
    {
        throw Exception("CreateEntry --invalid parent.");
    }
    std::unique_ptr<TPdfOutlineEntry> entry(new TPdfOutlineEntry(parent->Doc(), parent, false));
    entry->CreateDictionary();
    return static_cast<TPdfOutlineEntry&>(parent->Doc().AddWrapper(std::move(entry)));
}

void TPdfOutlineEntry::Save()
{
    TPdfDictionary& dictionary = Wrapped(*this);
    dictionary.Put("Count", std::make_unique<TPdfNumber>(m_opened ? m_count : -m_count));
    dictionary.Put("Title", std::make_unique<TPdfText>(m_title));
    if (m_dest != nullptr)
    {
        dictionary.Put("Dest", m_dest->GetValue());
    }
    if (m_first != nullptr)
    {
        dictionary.Put("First", Wrapped(*m_first));
        m_first->Save();
    }
    if (m_last != nullptr)
    {
        dictionary.Put("Last", Wrapped(*m_last));
    }
    if (m_prev != nullptr)
    {
        dictionary.Put("Prev", Wrapped(*m_prev));
    }
    if (m_next != nullptr)
    {
        dictionary.Put("Next", Wrapped(*m_next));
        m_next->Save();
    }
}

TPdfOutlineRoot::TPdfOutlineRoot(TPdfDoc& doc) : TPdfOutlineEntry(doc, nullptr, true) {}

TPdfOutlineRoot& TPdfOutlineRoot::CreateRoot(TPdfDoc& doc)
{
    std::unique_ptr<TPdfOutlineRoot> root(new TPdfOutlineRoot(doc));
    root->CreateDictionary();
    Wrapped(*root).Put("Type", std::make_unique<TPdfName>("Outlines"));
    return static_cast<TPdfOutlineRoot&>(doc.AddWrapper(std::move(root)));
}

void TPdfOutlineRoot::Save()
{
    TPdfDictionary& dictionary = Wrapped(*this);
    dictionary.Put("Count", std::make_unique<TPdfNumber>(Opened() ? Count() : -Count()));
    if (First() != nullptr)
    {
        dictionary.Put("First", Wrapped(*First()));
        First()->Save();
    }
    if (Last() != nullptr)
    {
        dictionary.Put("Last", Wrapped(*Last()));
    }
}

// ---------------------------------------------------------------------------------------------
// Fonts

TPdfFont::TPdfFont(TPdfObjectMgr&, std::string name) : m_name(std::move(name)) {}

int TPdfFont::GetCharWidth(std::string_view, int) const
{
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Canvas attribute

void TPdfCanvasAttribute::SetWordSpace(float value)
{
    if (!(value >= 0))
    {
        throw EPdfInvalidValue("SetWordSpace --invalid word space");
    }
    m_wordSpace = value;
}

void TPdfCanvasAttribute::SetCharSpace(float value)
{
    if (!(value >= -30 && value <= 300))
    {
        throw EPdfInvalidValue("SetCharSpace --invalid char space");
    }
    m_charSpace = value;
}

void TPdfCanvasAttribute::SetFontSize(float value)
{
    if (!(value >= 0 && value <= 300))
    {
        throw EPdfInvalidValue("SetCharSpace --invalid font size");
    }
    m_fontSize = value;
}

void TPdfCanvasAttribute::SetHorizontalScaling(int value)
{
    if (!(value >= 10 && value <= 300))
    {
        throw EPdfInvalidValue("SetHorizontalScaling --invalid font size");
    }
    m_horizontalScaling = static_cast<std::uint16_t>(value);
}

void TPdfCanvasAttribute::SetLeading(float value)
{
    if (!(value >= 0 && value <= 300))
    {
        throw EPdfInvalidValue("SetLeading --invalid font size");
    }
    m_leading = value;
}

float TPdfCanvasAttribute::CharAdvance(std::string_view text, int position) const
{
    // Without a font (before the first page) every character measures 0.
    const int width = m_font != nullptr ? m_font->GetCharWidth(text, position) : 0;
    float advance = static_cast<float>(width) * m_fontSize / 1000;
    if (m_horizontalScaling != 100)
    {
        advance = static_cast<float>(m_horizontalScaling) * advance / 100;
    }
    // A character without width gets no character spacing either.
    advance = advance > 0 ? advance + m_charSpace : 0;
    const auto index = static_cast<std::size_t>(position - 1);
    if (text[index] == ' ' && m_wordSpace > 0 && index + 1 < text.size())
    {
        advance += m_wordSpace;
    }
    return advance;
}

float TPdfCanvasAttribute::TextWidth(std::string_view text) const
{
    float sum = 0;
    for (int i = 1; i <= static_cast<int>(text.size()); ++i)
    {
        sum += CharAdvance(text, i);
    }
    return sum - m_charSpace;
}

int TPdfCanvasAttribute::MeasureText(std::string_view text, float width) const
{
    float sum = 0;
    int count = 0;
    for (int i = 1; i <= static_cast<int>(text.size()); ++i)
    {
        sum += CharAdvance(text, i);
        if (sum > width)
        {
            break;
        }
        ++count;
    }
    return count;
}

// ---------------------------------------------------------------------------------------------
// Canvas

TPdfCanvas::TPdfCanvas(TPdfDoc* doc)
    : m_doc(doc), m_attribute(std::make_unique<TPdfCanvasAttribute>())
{
}

void TPdfCanvas::SetPage(TPdfDictionary* page)
{
    if (m_page != nullptr)
    {
        const TPdfCanvasAttribute& state = *m_attribute;
        if (state.Font() != nullptr)
        {
            m_page->PutInternal("_Font", std::make_unique<TPdfName>(state.Font()->Name()));
        }
        m_page->PutInternal("_Font_Size", std::make_unique<TPdfReal>(state.FontSize()));
        m_page->PutInternal("_Word_Space", std::make_unique<TPdfReal>(state.WordSpace()));
        m_page->PutInternal("_Char_Space", std::make_unique<TPdfReal>(state.CharSpace()));
        m_page->PutInternal("_HScalling", std::make_unique<TPdfNumber>(state.HorizontalScaling()));
        m_page->PutInternal("_Leading", std::make_unique<TPdfReal>(state.Leading()));
    }
    m_page = page;
    m_contents = page != nullptr ? dynamic_cast<TPdfStream*>(page->Lookup("Contents")) : nullptr;
    if (page == nullptr)
    {
        return;
    }

    if (const TPdfName* font = page->LookupName("_Font"))
    {
        m_attribute->SetFont(GetDoc().GetFont(font->Value()));
        auto stored = [page](const char* key) {
            const TPdfReal* value = page->LookupReal(key);
            return value != nullptr ? static_cast<float>(value->Value()) : 0.0F;
        };
        m_attribute->SetFontSize(stored("_Font_Size"));
        m_attribute->SetWordSpace(stored("_Word_Space"));
        m_attribute->SetCharSpace(stored("_Char_Space"));
        const TPdfNumber* scaling = page->LookupNumber("_HScalling");
        m_attribute->SetHorizontalScaling(scaling != nullptr ? scaling->Value() : 100);
        m_attribute->SetLeading(stored("_Leading"));
        return;
    }

    m_attribute->SetFont(nullptr);
    SetFont("Arial", 10);
    m_attribute->SetCharSpace(0);
    m_attribute->SetWordSpace(0);
    m_attribute->SetHorizontalScaling(100);
    m_attribute->SetLeading(0);
}

void TPdfCanvas::Detach()
{
    m_page = nullptr;
    m_contents = nullptr;
    m_attribute->SetFont(nullptr);
}

TPdfDictionary& TPdfCanvas::GetPage() const
{
    if (m_page == nullptr)
    {
        throw EPdfInvalidOperation("GetPage --the Page is nil");
    }
    return *m_page;
}

TPdfDoc& TPdfCanvas::GetDoc() const
{
    if (m_doc == nullptr)
    {
        throw EPdfInvalidOperation("ERROR: GetDoc documant is nil.");
    }
    return *m_doc;
}

TPdfArray& TPdfCanvas::MediaBox()
{
    TPdfArray* mediaBox = GetPage().LookupArray("MediaBox");
    if (mediaBox == nullptr || mediaBox->ItemCount() < 4 ||
        dynamic_cast<TPdfNumber*>(mediaBox->Item(2)) == nullptr ||
        dynamic_cast<TPdfNumber*>(mediaBox->Item(3)) == nullptr)
    {
        throw EPdfInvalidOperation("Can not chenge width of this page..");
    }
    return *mediaBox;
}

void TPdfCanvas::SetPageWidth(int value)
{
    static_cast<TPdfNumber*>(MediaBox().Item(2))->SetValue(value);
}

void TPdfCanvas::SetPageHeight(int value)
{
    static_cast<TPdfNumber*>(MediaBox().Item(3))->SetValue(value);
}

void TPdfCanvas::WriteContent(std::string_view text)
{
    if (!m_measureOnly && m_contents != nullptr)
    {
        WriteString(text, m_contents->Data());
    }
}

void TPdfCanvas::GSave()
{
    WriteContent("q\n");
}

void TPdfCanvas::GRestore()
{
    WriteContent("Q\n");
}

void TPdfCanvas::Concat(float a, float b, float c, float d, float e, float f)
{
    WriteContent(FormatReal(a) + " " + FormatReal(b) + " " + FormatReal(c) + " " + FormatReal(d) +
                 " " + FormatReal(e) + " " + FormatReal(f) + " cm\n");
}

void TPdfCanvas::Rectangle(float x, float y, float width, float height)
{
    WriteContent(FormatReal(x) + " " + FormatReal(y) + " " + FormatReal(width) + " " +
                 FormatReal(height) + " re\n");
}

void TPdfCanvas::Clip()
{
    WriteContent("W\n");
}

void TPdfCanvas::NewPath()
{
    WriteContent("n\n");
}

void TPdfCanvas::BeginText()
{
    WriteContent("BT\n");
}

void TPdfCanvas::EndText()
{
    WriteContent("ET\n");
}

void TPdfCanvas::MoveTextPoint(float x, float y)
{
    WriteContent(FormatReal(x) + " " + FormatReal(y) + " Td\n");
}

void TPdfCanvas::MoveToNextLine()
{
    WriteContent("T*\n");
}

void TPdfCanvas::ShowText(std::string_view text)
{
    if (HasMultiByteChar(text))
    {
        WriteContent("<" + BytesToHex(text) + "> Tj\n");
    }
    else
    {
        WriteContent("(" + EscapeText(text) + ") Tj\n");
    }
}

void TPdfCanvas::SetFontAndSize(std::string_view fontReference, float size)
{
    WriteContent(std::string(fontReference) + " " + FormatReal(size) + " Tf\n");
}

void TPdfCanvas::ExecuteXObject(std::string_view name)
{
    // Escaped as the resource dictionary's key is, so a name with a blank or a delimiter still
    // names that resource instead of breaking the content stream.
    WriteContent("/" + EscapeName(name) + " Do\n");
}

void TPdfCanvas::SetRGBFillColor(std::int32_t color)
{
    const auto value = static_cast<std::uint32_t>(color > 0 ? color : 0);
    auto component = [value](int shift) {
        return FormatReal(static_cast<double>((value >> shift) & 0xFF) / 255);
    };
    WriteContent(component(0) + " " + component(8) + " " + component(16) + " rg\n");
}

void TPdfCanvas::SetFont(const std::string& name, float size)
{
    TPdfFont* font = GetDoc().GetFont(name);
    if (font == m_attribute->Font() && size == m_attribute->FontSize())
    {
        return;
    }
    const TPdfName* resourceName = font->Dictionary()->LookupName("Name");
    const std::string fontName = resourceName != nullptr ? resourceName->Value() : std::string();
    TPdfDictionary* fonts = GetPageResource(GetPage(), "Font");
    if (fonts != nullptr && fonts->Lookup(fontName) == nullptr)
    {
        fonts->Put(fontName, *font->Dictionary());
    }
    if (m_contents != nullptr)
    {
        SetFontAndSize("/" + fontName, size);
    }
    m_attribute->SetFont(font);
    m_attribute->SetFontSize(size);
}

void TPdfCanvas::SetCharSpace(float value)
{
    if (value == m_attribute->CharSpace())
    {
        return;
    }
    m_attribute->SetCharSpace(value);
    WriteContent(FormatReal(value) + " Tc\n");
}

void TPdfCanvas::SetWordSpace(float value)
{
    if (value == m_attribute->WordSpace())
    {
        return;
    }
    m_attribute->SetWordSpace(value);
    WriteContent(FormatReal(value) + " Tw\n");
}

void TPdfCanvas::SetLeading(float value)
{
    if (value == m_attribute->Leading())
    {
        return;
    }
    m_attribute->SetLeading(value);
    WriteContent(FormatReal(value) + " TL\n");
}

std::string TPdfCanvas::GetNextWord(std::string_view text, int& position) const
{
    const int length = static_cast<int>(text.size());
    if (position < 1)
    {
        position = 1;
    }
    if (position > length)
    {
        return {};
    }
    int i = position;
    while (i < length)
    {
        const char c = text[static_cast<std::size_t>(i - 1)];
        if (c == ' ' || (c == '\n' && i > 1 && text[static_cast<std::size_t>(i - 2)] == '\r'))
        {
            break;
        }
        ++i;
    }
    std::string word(text.substr(static_cast<std::size_t>(position - 1),
                                 static_cast<std::size_t>(i - position + 1)));
    position = i + 1;
    return word;
}

void TPdfCanvas::ShowTextCut(std::string_view line, float width)
{
    const int fitting = MeasureText(line, width);
    ShowText(line.substr(0, static_cast<std::size_t>(fitting)));
}

void TPdfCanvas::TextRect(const TPdfBox& rect, std::string_view text, bool wordWrap)
{
    TPdfBox box = rect;
    const TPdfCanvasAttribute& state = *m_attribute;
    float x = box.Left;
    const auto y = static_cast<float>(box.Top - 0.85 * state.FontSize());
    BeginText();
    MoveTextPoint(x, y);

    auto endsWith = [](std::string_view s, std::string_view tail) {
        return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
    };
    int position = 1;
    std::string line = GetNextWord(text, position);
    x += TextWidth(line) + (endsWith(line, " ") ? state.WordSpace() : 0);
    while (position <= static_cast<int>(text.size()))
    {
        bool forcedBreak = false;
        if (line.size() >= 2 && endsWith(line, "\r\n"))
        {
            line.resize(line.size() - 2);
            forcedBreak = true;
        }
        const std::string word = GetNextWord(text, position);
        const float width = TextWidth(word);
        if ((wordWrap && x + width > box.Right) || forcedBreak)
        {
            if (!line.empty())
            {
                ShowTextCut(line, box.Right - box.Left);
            }
            line.clear();
            MoveToNextLine();
            box.Top -= state.Leading();
            // The first line always shows; later ones only while a whole line still fits.
            if (box.Bottom + state.FontSize() > box.Top)
            {
                break;
            }
            x = box.Left;
        }
        x += width + (endsWith(word, " ") ? state.WordSpace() : 0);
        line += word;
    }
    if (!line.empty())
    {
        ShowTextCut(line, box.Right - box.Left);
    }
    EndText();
}

TPdfXObject& TPdfCanvas::EnterXObject(const std::string& name, const char* notFoundMessage)
{
    TPdfXObject* object = GetDoc().FindXObject(name);
    if (object == nullptr)
    {
        throw EPdfInvalidValue(notFoundMessage + name);
    }
    TPdfDictionary* xObjects = GetPageResource(GetPage(), "XObject");
    if (xObjects != nullptr && xObjects->Lookup(name) == nullptr)
    {
        xObjects->Put(name, *object);
    }
    return *object;
}

namespace
{

std::string XObjectName(const TPdfXObject& object)
{
    const TPdfName* name = object.Attributes().LookupName("Name");
    return name != nullptr ? name->Value() : std::string();
}

} // namespace

void TPdfCanvas::DrawXObject(const std::string& name, float x, float y, float width,
                             float height)
{
    TPdfXObject& object = EnterXObject(name, "DrawXObject --XObject not found: ");
    GSave();
    Concat(width, 0, 0, height, x, y);
    ExecuteXObject(XObjectName(object));
    GRestore();
}

void TPdfCanvas::DrawXObjectEx(const std::string& name, float x, float y, float width,
                               float height, float clipX, float clipY, float clipWidth,
                               float clipHeight)
{
    TPdfXObject& object = EnterXObject(name, "DrawXObjectEx --XObject not found: ");
    GSave();
    Rectangle(clipX, clipY, clipWidth, clipHeight);
    Clip();
    NewPath();
    Concat(width, 0, 0, height, x, y);
    ExecuteXObject(XObjectName(object));
    GRestore();
}

// ---------------------------------------------------------------------------------------------
// Document

TPdfDoc::TPdfDoc() : m_canvas(std::make_unique<TPdfCanvas>(this)) {}

TPdfDoc::~TPdfDoc()
{
    CloseDocument();
}

void TPdfDoc::NewDocument()
{
    CloseDocument();
    m_xref = std::make_unique<TPdfXref>();
    m_header = std::make_unique<TPdfHeader>();
    m_trailer = std::make_unique<TPdfTrailer>(m_xref.get());
    m_xObjects = std::make_unique<TPdfArray>(m_xref.get());
    // Open from here on, so that a failure below is cleaned up by the next CloseDocument.
    m_isOpen = true;
    CreateCatalog();
    if (m_useOutlines)
    {
        CreateOutlines();
    }
    CreateInfo();
    m_info->SetCreationDate(Clock().Now());
    CreatePages();
}

void TPdfDoc::CreateCatalog()
{
    auto& catalog = m_xref->Add(std::make_unique<TPdfDictionary>(m_xref.get()));
    catalog.Put("Type", std::make_unique<TPdfName>("Catalog"));
    m_trailer->Attributes().Put("Root", catalog);
    auto wrapper = std::make_unique<TPdfCatalog>();
    wrapper->SetDictionary(&catalog);
    m_root = static_cast<TPdfCatalog*>(&AddWrapper(std::move(wrapper)));
}

void TPdfDoc::CreateOutlines()
{
    m_outlineRoot = &TPdfOutlineRoot::CreateRoot(*this);
    m_root->Dictionary()->Put("Outlines", *m_outlineRoot->Dictionary());
}

void TPdfDoc::CreateInfo()
{
    auto& info = m_xref->Add(std::make_unique<TPdfDictionary>(m_xref.get()));
    info.Put("Producer", std::make_unique<TPdfText>(m_producer));
    m_trailer->Attributes().Put("Info", info);
    auto wrapper = std::make_unique<TPdfInfo>();
    wrapper->SetDictionary(&info);
    m_info = static_cast<TPdfInfo*>(&AddWrapper(std::move(wrapper)));
}

void TPdfDoc::CreatePages()
{
    auto& pages = m_xref->Add(std::make_unique<TPdfDictionary>(m_xref.get()));
    pages.Put("Type", std::make_unique<TPdfName>("Pages"));
    pages.Put("Kids", std::make_unique<TPdfArray>(m_xref.get()));
    pages.Put("Count", std::make_unique<TPdfNumber>(0));
    m_root->SetPages(pages);
    m_currentPages = &pages;
}

void TPdfDoc::CloseDocument()
{
    if (!m_isOpen)
    {
        return;
    }
    // The canvas must not keep pointing into the objects freed below.
    m_canvas->Detach();
    m_xObjects.reset();
    while (!m_fonts.empty())
    {
        m_fonts.pop_back();
    }
    while (!m_wrappers.empty())
    {
        m_wrappers.pop_back();
    }
    m_xref.reset();
    m_header.reset();
    m_trailer.reset();
    m_info = nullptr;
    m_root = nullptr;
    m_outlineRoot = nullptr;
    m_currentPages = nullptr;
    m_isOpen = false;
}

void TPdfDoc::OpenMeasuringDocument()
{
    NewDocument();
    AddPage();
    m_canvas->SetMeasureOnly(true);
}

void TPdfDoc::AddPage()
{
    if (m_currentPages == nullptr)
    {
        throw EPdfInvalidOperation("AddPage --current pages null.");
    }
    auto& page = m_xref->Add(std::make_unique<TPdfDictionary>(m_xref.get()));
    AddKid(*m_currentPages, page);
    page.Put("Type", std::make_unique<TPdfName>("Page"));
    page.Put("Parent", *m_currentPages);
    const int mediaBox[] = {0, 0, m_newPageWidth, m_newPageHeight};
    page.Put("MediaBox", TPdfArray::CreateNumberArray(m_xref.get(), mediaBox));
    auto resources = std::make_unique<TPdfDictionary>(m_xref.get());
    resources->Put("Font", std::make_unique<TPdfDictionary>(m_xref.get()));
    resources->Put("XObject", std::make_unique<TPdfDictionary>(m_xref.get()));
    auto procSet = std::make_unique<TPdfArray>(m_xref.get());
    for (const char* name : {"PDF", "Text", "ImageC"})
    {
        procSet->Append(std::make_unique<TPdfName>(name));
    }
    resources->Put("ProcSet", std::move(procSet));
    page.Put("Resources", std::move(resources));
    auto& contents = m_xref->Add(std::make_unique<TPdfStream>(m_xref.get()));
    page.Put("Contents", contents);
    m_canvas->SetPage(&page);
}

TPdfCanvas* TPdfDoc::GetCanvas() const
{
    if (!m_isOpen)
    {
        throw EPdfInvalidOperation("GetCanvas --Document is null");
    }
    return m_canvas.get();
}

TPdfInfo* TPdfDoc::GetInfo()
{
    if (!m_isOpen)
    {
        throw EPdfInvalidOperation("GetInfo --this method can not use this state..");
    }
    if (m_info == nullptr)
    {
        CreateInfo();
    }
    return m_info;
}

TPdfCatalog* TPdfDoc::GetRoot() const
{
    if (!m_isOpen)
    {
        throw EPdfInvalidOperation("GetRoot --this method can not use this state..");
    }
    return m_root;
}

TPdfOutlineRoot* TPdfDoc::GetOutlineRoot() const
{
    if (!m_isOpen)
    {
        throw EPdfInvalidOperation("GetOutlineRoot --document is null..");
    }
    // Asked of the root itself, not of UseOutlines: the flag may have changed since the
    // document was opened.
    if (m_outlineRoot == nullptr)
    {
        throw EPdfInvalidOperation("GetOutlineRoot --not use outline mode..");
    }
    return m_outlineRoot;
}

TPdfFont* TPdfDoc::GetFont(const std::string& name)
{
    if (!m_isOpen)
    {
        throw EPdfInvalidOperation("GetFont --document is null.");
    }
    for (const auto& font : m_fonts)
    {
        if (font->Name() == name)
        {
            return font.get();
        }
    }
    return CreateFont(name);
}

TPdfFont* TPdfDoc::CreateFont(const std::string& name)
{
    CheckOpen("CreateFont --document is null.");
    RegisterPdfFonts();
    const auto* fontClass =
        dynamic_cast<const TPdfFontClass*>(TNameRegistry::Instance().Find(name));
    if (fontClass == nullptr)
    {
        throw Exception("CreateFont --InvalidFontName:" + name);
    }
    std::unique_ptr<TPdfFont> font = fontClass->Create(*m_xref, name);
    font->Dictionary()->Put("Name", std::make_unique<TPdfName>("F" + Decimal(
                                                                   static_cast<std::int64_t>(
                                                                       m_fonts.size()))));
    m_fonts.push_back(std::move(font));
    return m_fonts.back().get();
}

TPdfXObject& TPdfDoc::RegisterXObject(std::unique_ptr<TPdfXObject> object,
                                      const std::string& name)
{
    CheckOpen("RegisterXObject --document is null.");
    if (!object)
    {
        throw EPdfInvalidValue("RegisterXObject --AObject is null");
    }
    if (GetTypeOf(object->Attributes()) != "XObject")
    {
        throw EPdfInvalidValue("RegisterXObject --not XObject");
    }
    TPdfXObject& numbered = m_xref->Add(std::move(object));
    RegisterXObject(numbered, name);
    return numbered;
}

void TPdfDoc::RegisterXObject(TPdfXObject& numbered, const std::string& name)
{
    CheckOpen("RegisterXObject --document is null.");
    if (GetTypeOf(numbered.Attributes()) != "XObject")
    {
        throw EPdfInvalidValue("RegisterXObject --not XObject");
    }
    // Only an object this document numbered can be listed by reference.
    if (numbered.ObjectKind() != okIndirect ||
        numbered.ObjectNumber() >= m_xref->ItemCount() ||
        m_xref->ObjectAt(numbered.ObjectNumber()) != &numbered)
    {
        throw EPdfInvalidOperation("AddObject --wrong object type.");
    }
    if (numbered.Attributes().Lookup("Name") != nullptr)
    {
        return;
    }
    if (FindXObject(name) != nullptr)
    {
        throw EPdfInvalidValue("RegisterXObject --dupulicate name: " + name);
    }
    m_xObjects->Append(numbered);
    numbered.Attributes().Put("Name", std::make_unique<TPdfName>(name));
}

TPdfImage& TPdfDoc::AddImage(const std::string& name, std::unique_ptr<TPdfImage> image)
{
    CheckOpen("AddImage --document is null.");
    if (FindXObject(name) != nullptr)
    {
        throw Exception("AddImage --the image named " + name + " is already exists..");
    }
    if (!image || GetTypeOf(image->Attributes()) != "XObject" ||
        image->Attributes().LookupName("Subtype") == nullptr ||
        image->Attributes().LookupName("Subtype")->Value() != "Image")
    {
        throw Exception("AddImage --the image is not valid TPdfImage..");
    }
    TPdfImage& numbered = m_xref->Add(std::move(image));
    RegisterXObject(numbered, name);
    return numbered;
}

TPdfXObject* TPdfDoc::FindXObject(std::string_view name) const
{
    if (!m_xObjects)
    {
        return nullptr;
    }
    for (int i = 0; i < m_xObjects->ItemCount(); ++i)
    {
        auto* object = dynamic_cast<TPdfXObject*>(m_xObjects->Item(i));
        if (object == nullptr)
        {
            continue;
        }
        const TPdfName* objectName = object->Attributes().LookupName("Name");
        if (objectName != nullptr && objectName->Value() == name)
        {
            return object;
        }
    }
    return nullptr;
}

void TPdfDoc::SaveToStream(TStream& stream)
{
    if (!m_isOpen || m_canvas->Page() == nullptr)
    {
        throw EPdfInvalidOperation("SaveToStream --there is no document to save.");
    }
    m_root->SaveOpenAction();
    if (m_outlineRoot != nullptr)
    {
        m_outlineRoot->Save();
    }
    // The file starts at position 0; the stream is not truncated, so callers hand in a fresh one.
    stream.SetPosition(0);
    m_header->WriteToStream(stream);
    for (int i = 1; i < m_xref->ItemCount(); ++i)
    {
        TPdfXrefEntry& entry = m_xref->Item(i);
        const std::int64_t offset = stream.Position();
        CheckOffset(offset);
        entry.Value()->WriteIndirect(stream);
        entry.SetByteOffset(offset);
    }
    const std::int64_t xrefAddress = stream.Position();
    CheckOffset(xrefAddress);
    m_trailer->SetXrefAddress(xrefAddress);
    m_xref->WriteToStream(stream);
    m_trailer->Attributes().LookupNumber("Size")->SetValue(m_xref->ItemCount());
    m_trailer->WriteToStream(stream);
}

// These operations number objects: without an open document there is no table to number them in.
void TPdfDoc::CheckOpen(const char* message) const
{
    if (!m_isOpen)
    {
        throw EPdfInvalidOperation(message);
    }
}

TPdfDictionaryWrapper& TPdfDoc::AddWrapper(std::unique_ptr<TPdfDictionaryWrapper> wrapper)
{
    m_wrappers.push_back(std::move(wrapper));
    return *m_wrappers.back();
}

// ---------------------------------------------------------------------------------------------
// Page tree

void AddKid(TPdfDictionary& node, const TPdfDictionary& kid)
{
    TPdfArray* kids = node.LookupArray("Kids");
    kids->Append(kid);
    node.LookupNumber("Count")->SetValue(kids->ItemCount());
}

TPdfDictionary* GetPageResource(const TPdfDictionary& page, std::string_view name)
{
    const TPdfDictionary* resources = page.LookupDictionary("Resources");
    return resources != nullptr ? resources->LookupDictionary(name) : nullptr;
}
