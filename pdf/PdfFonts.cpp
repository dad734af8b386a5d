#include "pdf/PdfFonts.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <mutex>
#include <span>
#include <utility>

#include "pdf/PdfFontWidths.h"

namespace
{

struct TNameEntry
{
    const char* Key;
    const char* Value;
};

struct TIntegerEntry
{
    const char* Key;
    int Value;
};

// Shared by all twelve dictionaries.
constexpr TNameEntry kType1FontNames[] = {
    {"Type", "Font"},
    {"Subtype", "Type1"},
    {"Encoding", "WinAnsiEncoding"},
};

// Every font lists the codes 32 to 255.
constexpr TIntegerEntry kCharRange[] = {{"FirstChar", 32}, {"LastChar", 255}};

// What tells the twelve fonts apart, indexed by TPdfStandardFontIndex.
struct TStandardFontRow
{
    const char* RegisteredName;
    const char* ClassName;
    const char* BaseFont;
    const int (&Widths)[kPdfFontWidthCount];
};

constexpr TStandardFontRow kStandardFonts[kPdfStandardFontCount] = {
    {"FixedWidth", "TPdfFixedWidth", "Courier", kFixedWidthWidths},
    {"FixedWidth-Bold", "TPdfFixedWidthBold", "Courier-Bold", kFixedWidthBoldWidths},
    {"FixedWidth-Italic", "TPdfFixedWidthItalic", "Courier-Oblique", kFixedWidthItalicWidths},
    {"FixedWidth-BoldItalic", "TPdfFixedWidthBoldItalic", "Courier-BoldOblique",
     kFixedWidthBoldItalicWidths},
    {"Arial", "TPdfArial", "Helvetica", kArialWidths},
    {"Arial-Bold", "TPdfArialBold", "Helvetica-Bold", kArialBoldWidths},
    {"Arial-Italic", "TPdfArialItalic", "Helvetica-Oblique", kArialItalicWidths},
    {"Arial-BoldItalic", "TPdfArialBoldItalic", "Helvetica-BoldOblique", kArialBoldItalicWidths},
    {"Times-Roman", "TPdfTimesRoman", "Times-Roman", kTimesRomanWidths},
    {"Times-Bold", "TPdfTimesBold", "Times-Bold", kTimesBoldWidths},
    {"Times-Italic", "TPdfTimesItalic", "Times-Italic", kTimesItalicWidths},
    {"Times-BoldItalic", "TPdfTimesBoldItalic", "Times-BoldItalic", kTimesBoldItalicWidths},
};

// Numbers a new font dictionary in objectMgr and fills it; the caller hands it to
// SetDictionary.
TPdfDictionary* BuildFontDictionary(TPdfObjectMgr& objectMgr,
                                    std::span<const TIntegerEntry> charRange, const char* baseFont,
                                    std::span<const int> widths)
{
    TPdfDictionary& dictionary = objectMgr.Add(std::make_unique<TPdfDictionary>(&objectMgr));
    for (const TNameEntry& entry : kType1FontNames)
    {
        dictionary.Put(entry.Key, std::make_unique<TPdfName>(entry.Value));
    }
    for (const TIntegerEntry& entry : charRange)
    {
        dictionary.Put(entry.Key, std::make_unique<TPdfNumber>(entry.Value));
    }
    dictionary.Put("BaseFont", std::make_unique<TPdfName>(baseFont));
    // The widths serve measuring only; the standard fonts need none in the file.
    dictionary.PutInternal("Widths", TPdfArray::CreateNumberArray(&objectMgr, widths));
    return &dictionary;
}

// An integer read from a number (or, leniently, a real) object; fallback for anything else.
int IntegerValue(const TPdfObject* object, int fallback)
{
    if (const auto* number = dynamic_cast<const TPdfNumber*>(object))
    {
        return number->Value();
    }
    if (const auto* real = dynamic_cast<const TPdfReal*>(object))
    {
        return static_cast<int>(real->Value());
    }
    return fallback;
}

// A width as the table holds it: one beyond 0 .. 65535 is clamped rather than wrapped, so a
// huge width never measures as a narrow one.
std::uint16_t TableWidth(int width)
{
    return static_cast<std::uint16_t>(std::clamp(width, 0, 65535));
}

// The class object of one row: makes the font as the row's own type.
class TStandardFontClass final : public TPdfFontClass
{
public:
    using TMake = std::unique_ptr<TPdfFont> (*)(TPdfObjectMgr&, const std::string&);

    TStandardFontClass(const char* className, TMake make) : m_className(className), m_make(make) {}

    // TRegisteredClass:
    const char* ClassName() const override { return m_className; }
    // TPdfFontClass:
    std::unique_ptr<TPdfFont> Create(TPdfObjectMgr& objectMgr,
                                     const std::string& name) const override
    {
        return m_make(objectMgr, name);
    }

private:
    const char* m_className;
    TMake m_make;
};

template <TPdfStandardFontIndex Index>
std::unique_ptr<TPdfFont> MakeStandardFont(TPdfObjectMgr& objectMgr, const std::string& name)
{
    return std::make_unique<TPdfStandardFontAt<Index>>(objectMgr, name);
}

template <std::size_t... Index>
std::array<TStandardFontClass, sizeof...(Index)> MakeFontClasses(std::index_sequence<Index...>)
{
    return {TStandardFontClass(kStandardFonts[Index].ClassName,
                               &MakeStandardFont<static_cast<TPdfStandardFontIndex>(Index)>)...};
}

const std::array<TStandardFontClass, kPdfStandardFontCount> kFontClasses =
    MakeFontClasses(std::make_index_sequence<kPdfStandardFontCount>{});

} // namespace

void TPdfType1Font::SetDictionary(TPdfDictionary* dictionary)
{
    TPdfFont::SetDictionary(dictionary);
    const int missingWidth =
        dictionary != nullptr ? IntegerValue(dictionary->Lookup("MissingWidth"), 0) : 0;
    m_charWidths.fill(TableWidth(missingWidth));
    if (dictionary == nullptr)
    {
        return;
    }
    m_firstChar = static_cast<std::uint8_t>(IntegerValue(dictionary->Lookup("FirstChar"), 0));
    m_lastChar = static_cast<std::uint8_t>(IntegerValue(dictionary->Lookup("LastChar"), 0));
    const TPdfArray* widths = dictionary->LookupArray("Widths");
    if (widths == nullptr)
    {
        return;
    }
    // The item count bounds the loop, but never past code 255: a longer array from another
    // dictionary must not write beyond the table.
    const int count = std::min(widths->ItemCount(), 256 - m_firstChar);
    for (int k = 0; k < count; ++k)
    {
        m_charWidths[static_cast<std::size_t>(m_firstChar) + static_cast<std::size_t>(k)] =
            TableWidth(IntegerValue(widths->Item(k), 0));
    }
}

int TPdfType1Font::GetCharWidth(std::string_view text, int position) const
{
    if (position < 1 || static_cast<std::size_t>(position) > text.size())
    {
        return 0;
    }
    const auto code = static_cast<unsigned char>(text[static_cast<std::size_t>(position - 1)]);
    return m_charWidths[code];
}

TPdfStandardFont::TPdfStandardFont(TPdfObjectMgr& objectMgr, std::string name,
                                   TPdfStandardFontIndex index)
    : TPdfType1Font(objectMgr, std::move(name))
{
    const TStandardFontRow& row = kStandardFonts[index];
    SetDictionary(BuildFontDictionary(objectMgr, kCharRange, row.BaseFont, row.Widths));
}

void RegisterPdfFonts()
{
    static std::once_flag once;
    std::call_once(once, [] {
        TNameRegistry& registry = TNameRegistry::Instance();
        for (std::size_t i = 0; i < kPdfStandardFontCount; ++i)
        {
            registry.RegisterClass(kStandardFonts[i].RegisteredName, kFontClasses[i]);
        }
    });
}
