#include "pdf/PdfFonts.h"

#include <algorithm>
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

// Every family lists the codes 32 to 255.
constexpr TIntegerEntry kFixedWidthCharRange[] = {{"FirstChar", 32}, {"LastChar", 255}};
constexpr TIntegerEntry kArialCharRange[] = {{"FirstChar", 32}, {"LastChar", 255}};
constexpr TIntegerEntry kTimesCharRange[] = {{"FirstChar", 32}, {"LastChar", 255}};

// Numbers a new font dictionary in objectMgr and fills it; the caller hands it to
// SetDictionary.
TPdfDictionary* BuildFontDictionary(TPdfObjectMgr& objectMgr,
                                    std::span<const TIntegerEntry> charRange,
                                    const char* baseFont, std::span<const int> widths)
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

template <class TFont>
class TStandardFontClass final : public TPdfFontClass
{
public:
    explicit TStandardFontClass(const char* className) : m_className(className) {}

    // TRegisteredClass:
    const char* ClassName() const override { return m_className; }
    // TPdfFontClass:
    std::unique_ptr<TPdfFont> Create(TPdfObjectMgr& objectMgr,
                                     const std::string& name) const override
    {
        return std::make_unique<TFont>(objectMgr, name);
    }

private:
    const char* m_className;
};

const TStandardFontClass<TPdfFixedWidth> kFixedWidthClass("TPdfFixedWidth");
const TStandardFontClass<TPdfFixedWidthBold> kFixedWidthBoldClass("TPdfFixedWidthBold");
const TStandardFontClass<TPdfFixedWidthItalic> kFixedWidthItalicClass("TPdfFixedWidthItalic");
const TStandardFontClass<TPdfFixedWidthBoldItalic> kFixedWidthBoldItalicClass(
    "TPdfFixedWidthBoldItalic");
const TStandardFontClass<TPdfArial> kArialClass("TPdfArial");
const TStandardFontClass<TPdfArialBold> kArialBoldClass("TPdfArialBold");
const TStandardFontClass<TPdfArialItalic> kArialItalicClass("TPdfArialItalic");
const TStandardFontClass<TPdfArialBoldItalic> kArialBoldItalicClass("TPdfArialBoldItalic");
const TStandardFontClass<TPdfTimesRoman> kTimesRomanClass("TPdfTimesRoman");
const TStandardFontClass<TPdfTimesBold> kTimesBoldClass("TPdfTimesBold");
const TStandardFontClass<TPdfTimesItalic> kTimesItalicClass("TPdfTimesItalic");
const TStandardFontClass<TPdfTimesBoldItalic> kTimesBoldItalicClass("TPdfTimesBoldItalic");

} // namespace

void TPdfType1Font::SetDictionary(TPdfDictionary* dictionary)
{
    TPdfFont::SetDictionary(dictionary);
    const int missingWidth =
        dictionary != nullptr ? IntegerValue(dictionary->Lookup("MissingWidth"), 0) : 0;
    m_charWidths.fill(static_cast<std::uint16_t>(missingWidth));
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
        m_charWidths[static_cast<std::size_t>(m_firstChar + k)] =
            static_cast<std::uint16_t>(IntegerValue(widths->Item(k), 0));
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

TPdfFixedWidth::TPdfFixedWidth(TPdfObjectMgr& objectMgr, std::string name)
    : TPdfType1Font(objectMgr, std::move(name))
{
    SetDictionary(
        BuildFontDictionary(objectMgr, kFixedWidthCharRange, "Courier", kFixedWidthWidths));
}

TPdfFixedWidthBold::TPdfFixedWidthBold(TPdfObjectMgr& objectMgr, std::string name)
    : TPdfType1Font(objectMgr, std::move(name))
{
    SetDictionary(BuildFontDictionary(objectMgr, kFixedWidthCharRange, "Courier-Bold",
                                      kFixedWidthBoldWidths));
}

TPdfFixedWidthItalic::TPdfFixedWidthItalic(TPdfObjectMgr& objectMgr, std::string name)
    : TPdfType1Font(objectMgr, std::move(name))
{
    SetDictionary(BuildFontDictionary(objectMgr, kFixedWidthCharRange, "Courier-Oblique",
                                      kFixedWidthItalicWidths));
}

TPdfFixedWidthBoldItalic::TPdfFixedWidthBoldItalic(TPdfObjectMgr& objectMgr, std::string name)
    : TPdfType1Font(objectMgr, std::move(name))
{
    SetDictionary(BuildFontDictionary(objectMgr, kFixedWidthCharRange, "Courier-BoldOblique",
                                      kFixedWidthBoldItalicWidths));
}

TPdfArial::TPdfArial(TPdfObjectMgr& objectMgr, std::string name)
    : TPdfType1Font(objectMgr, std::move(name))
{
    SetDictionary(BuildFontDictionary(objectMgr, kArialCharRange, "Helvetica", kArialWidths));
}

TPdfArialBold::TPdfArialBold(TPdfObjectMgr& objectMgr, std::string name)
    : TPdfType1Font(objectMgr, std::move(name))
{
    SetDictionary(
        BuildFontDictionary(objectMgr, kArialCharRange, "Helvetica-Bold", kArialBoldWidths));
}

TPdfArialItalic::TPdfArialItalic(TPdfObjectMgr& objectMgr, std::string name)
    : TPdfType1Font(objectMgr, std::move(name))
{
    SetDictionary(BuildFontDictionary(objectMgr, kArialCharRange, "Helvetica-Oblique",
                                      kArialItalicWidths));
}

TPdfArialBoldItalic::TPdfArialBoldItalic(TPdfObjectMgr& objectMgr, std::string name)
    : TPdfType1Font(objectMgr, std::move(name))
{
    SetDictionary(BuildFontDictionary(objectMgr, kArialCharRange, "Helvetica-BoldOblique",
                                      kArialBoldItalicWidths));
}

TPdfTimesRoman::TPdfTimesRoman(TPdfObjectMgr& objectMgr, std::string name)
    : TPdfType1Font(objectMgr, std::move(name))
{
    SetDictionary(
        BuildFontDictionary(objectMgr, kTimesCharRange, "Times-Roman", kTimesRomanWidths));
}

TPdfTimesBold::TPdfTimesBold(TPdfObjectMgr& objectMgr, std::string name)
    : TPdfType1Font(objectMgr, std::move(name))
{
    SetDictionary(
        BuildFontDictionary(objectMgr, kTimesCharRange, "Times-Bold", kTimesBoldWidths));
}

TPdfTimesItalic::TPdfTimesItalic(TPdfObjectMgr& objectMgr, std::string name)
    : TPdfType1Font(objectMgr, std::move(name))
{
    SetDictionary(
        BuildFontDictionary(objectMgr, kTimesCharRange, "Times-Italic", kTimesItalicWidths));
}

TPdfTimesBoldItalic::TPdfTimesBoldItalic(TPdfObjectMgr& objectMgr, std::string name)
    : TPdfType1Font(objectMgr, std::move(name))
{
    SetDictionary(BuildFontDictionary(objectMgr, kTimesCharRange, "Times-BoldItalic",
                                      kTimesBoldItalicWidths));
}

void RegisterPdfFonts()
{
    static std::once_flag once;
    std::call_once(once, [] {
        TNameRegistry& registry = TNameRegistry::Instance();
        registry.RegisterClass("FixedWidth", kFixedWidthClass);
        registry.RegisterClass("FixedWidth-Bold", kFixedWidthBoldClass);
        registry.RegisterClass("FixedWidth-Italic", kFixedWidthItalicClass);
        registry.RegisterClass("FixedWidth-BoldItalic", kFixedWidthBoldItalicClass);
        registry.RegisterClass("Arial", kArialClass);
        registry.RegisterClass("Arial-Bold", kArialBoldClass);
        registry.RegisterClass("Arial-Italic", kArialItalicClass);
        registry.RegisterClass("Arial-BoldItalic", kArialBoldItalicClass);
        registry.RegisterClass("Times-Roman", kTimesRomanClass);
        registry.RegisterClass("Times-Bold", kTimesBoldClass);
        registry.RegisterClass("Times-Italic", kTimesItalicClass);
        registry.RegisterClass("Times-BoldItalic", kTimesBoldItalicClass);
    });
}
