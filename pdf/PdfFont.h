#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "pdf/PdfTypes.h"
#include "pdf/PdfWrappers.h"
#include "platform/NameRegistry.h"

// The base class of the document's fonts and the class object through which the name registry
// makes them (the twelve standard fonts are in PdfFonts.h).

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
