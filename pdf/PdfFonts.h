#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "pdf/PdfFont.h"

// The twelve standard Type 1 fonts. No font program is embedded: each font writes a small
// dictionary naming a font every viewer supplies, and carries that font's character widths so
// the canvas can measure text. The document makes a font through the name registry the first
// time a page uses its name; the font object then belongs to the document's font list and its
// dictionary to the document's cross-reference table.

// A font with a width for every byte code, read from its dictionary.
class TPdfType1Font : public TPdfFont
{
public:
    using TPdfFont::TPdfFont;

    // TPdfDictionaryWrapper: also fills the width table from "FirstChar", "Widths" and, when
    // present, "MissingWidth" (the width of every code the table does not list). Widths
    // beyond 0 .. 65535 are clamped into that range.
    void SetDictionary(TPdfDictionary* dictionary) override;
    // TPdfFont: the width of the byte at position, taken as unsigned; 0 outside the text.
    int GetCharWidth(std::string_view text, int position) const override;

private:
    std::uint8_t m_firstChar = 0;
    std::uint8_t m_lastChar = 0;
    std::array<std::uint16_t, 256> m_charWidths{};
};

// The twelve standard fonts, in the order of the font table (PdfFonts.cpp), which holds what
// tells them apart: the registered name, the class name, the base font and the width table.
enum TPdfStandardFontIndex : std::uint8_t
{
    sfFixedWidth,
    sfFixedWidthBold,
    sfFixedWidthItalic,
    sfFixedWidthBoldItalic,
    sfArial,
    sfArialBold,
    sfArialItalic,
    sfArialBoldItalic,
    sfTimesRoman,
    sfTimesBold,
    sfTimesItalic,
    sfTimesBoldItalic,
};
inline constexpr std::size_t kPdfStandardFontCount = 12;

// A standard font: the constructor builds and numbers the dictionary of its row of the font
// table in objectMgr (Type, Subtype, Encoding, FirstChar, LastChar, BaseFont, and the widths as
// an internal entry never written) and reads its widths from it.
class TPdfStandardFont : public TPdfType1Font
{
public:
    TPdfStandardFont(TPdfObjectMgr& objectMgr, std::string name, TPdfStandardFontIndex index);
};

// One class per row of the table, so each font keeps a type of its own.
template <TPdfStandardFontIndex Index>
class TPdfStandardFontAt final : public TPdfStandardFont
{
public:
    TPdfStandardFontAt(TPdfObjectMgr& objectMgr, std::string name)
        : TPdfStandardFont(objectMgr, std::move(name), Index)
    {
    }
};

using TPdfFixedWidth = TPdfStandardFontAt<sfFixedWidth>;
using TPdfFixedWidthBold = TPdfStandardFontAt<sfFixedWidthBold>;
using TPdfFixedWidthItalic = TPdfStandardFontAt<sfFixedWidthItalic>;
using TPdfFixedWidthBoldItalic = TPdfStandardFontAt<sfFixedWidthBoldItalic>;
using TPdfArial = TPdfStandardFontAt<sfArial>;
using TPdfArialBold = TPdfStandardFontAt<sfArialBold>;
using TPdfArialItalic = TPdfStandardFontAt<sfArialItalic>;
using TPdfArialBoldItalic = TPdfStandardFontAt<sfArialBoldItalic>;
using TPdfTimesRoman = TPdfStandardFontAt<sfTimesRoman>;
using TPdfTimesBold = TPdfStandardFontAt<sfTimesBold>;
using TPdfTimesItalic = TPdfStandardFontAt<sfTimesItalic>;
using TPdfTimesBoldItalic = TPdfStandardFontAt<sfTimesBoldItalic>;

// Enters the twelve fonts in the name registry under "FixedWidth" ... "Times-BoldItalic" and
// under their class names. Runs once; the document's CreateFont calls it, an explicit call at
// start-up is harmless.
void RegisterPdfFonts();
