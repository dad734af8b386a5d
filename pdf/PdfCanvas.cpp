#include "pdf/PdfCanvas.h"

#include <string>

#include "pdf/PdfDoc.h"
#include "pdf/PdfFont.h"

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
    const auto y = static_cast<float>(rect.Top - 0.85 * m_attribute->FontSize());
    BeginText();
    MoveTextPoint(rect.Left, y);
    TextRectLines(
        rect, m_attribute->Leading(), text, wordWrap,
        [this, &rect](std::string_view line) { ShowTextCut(line, rect.Right - rect.Left); },
        [this] { MoveToNextLine(); });
    EndText();
}

void TPdfCanvas::TextRectLines(const TPdfBox& rect, float leading, std::string_view text,
                               bool wordWrap,
                               const std::function<void(std::string_view line)>& showLine,
                               const std::function<void()>& nextLine) const
{
    const TPdfCanvasAttribute& state = *m_attribute;
    float top = rect.Top;
    float x = rect.Left;
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
        if ((wordWrap && x + width > rect.Right) || forcedBreak)
        {
            if (!line.empty())
            {
                showLine(line);
            }
            line.clear();
            nextLine();
            top -= leading;
            // The first line always shows; later ones only while a whole line still fits.
            if (rect.Bottom + state.FontSize() > top)
            {
                break;
            }
            x = rect.Left;
        }
        x += width + (endsWith(word, " ") ? state.WordSpace() : 0);
        line += word;
    }
    if (!line.empty())
    {
        showLine(line);
    }
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

void TPdfCanvas::DrawXObject(const std::string& name, float x, float y, float width, float height)
{
    TPdfXObject& object = EnterXObject(name, "DrawXObject --XObject not found: ");
    GSave();
    Concat(width, 0, 0, height, x, y);
    ExecuteXObject(XObjectName(object));
    GRestore();
}

void TPdfCanvas::DrawXObjectEx(const std::string& name, float x, float y, float width, float height,
                               float clipX, float clipY, float clipWidth, float clipHeight)
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
