#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

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
    // present, "MissingWidth" (the width of every code the table does not list).
    void SetDictionary(TPdfDictionary* dictionary) override;
    // TPdfFont: the width of the byte at position, taken as unsigned; 0 outside the text.
    int GetCharWidth(std::string_view text, int position) const override;

private:
    std::uint8_t m_firstChar = 0;
    std::uint8_t m_lastChar = 0;
    std::array<std::uint16_t, 256> m_charWidths{};
};

// Each constructor builds and numbers the font's dictionary in objectMgr: Type, Subtype,
// Encoding, FirstChar, LastChar, BaseFont, and the widths as an internal entry never written.
class TPdfFixedWidth : public TPdfType1Font
{
public:
    TPdfFixedWidth(TPdfObjectMgr& objectMgr, std::string name);
};

class TPdfFixedWidthBold : public TPdfType1Font
{
public:
    TPdfFixedWidthBold(TPdfObjectMgr& objectMgr, std::string name);
};

class TPdfFixedWidthItalic : public TPdfType1Font
{
public:
    TPdfFixedWidthItalic(TPdfObjectMgr& objectMgr, std::string name);
};

class TPdfFixedWidthBoldItalic : public TPdfType1Font
{
public:
    TPdfFixedWidthBoldItalic(TPdfObjectMgr& objectMgr, std::string name);
};

class TPdfArial : public TPdfType1Font
{
public:
    TPdfArial(TPdfObjectMgr& objectMgr, std::string name);
};

class TPdfArialBold : public TPdfType1Font
{
public:
    TPdfArialBold(TPdfObjectMgr& objectMgr, std::string name);
};

class TPdfArialItalic : public TPdfType1Font
{
public:
    TPdfArialItalic(TPdfObjectMgr& objectMgr, std::string name);
};

class TPdfArialBoldItalic : public TPdfType1Font
{
public:
    TPdfArialBoldItalic(TPdfObjectMgr& objectMgr, std::string name);
};

class TPdfTimesRoman : public TPdfType1Font
{
public:
    TPdfTimesRoman(TPdfObjectMgr& objectMgr, std::string name);
};

class TPdfTimesBold : public TPdfType1Font
{
public:
    TPdfTimesBold(TPdfObjectMgr& objectMgr, std::string name);
};

class TPdfTimesItalic : public TPdfType1Font
{
public:
    TPdfTimesItalic(TPdfObjectMgr& objectMgr, std::string name);
};

class TPdfTimesBoldItalic : public TPdfType1Font
{
public:
    TPdfTimesBoldItalic(TPdfObjectMgr& objectMgr, std::string name);
};

// Enters the twelve fonts in the name registry under "FixedWidth" ... "Times-BoldItalic" and
// under their class names. Runs once; the document's CreateFont calls it, an explicit call at
// start-up is harmless.
void RegisterPdfFonts();
