#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "pdf/PdfTypes.h"

// The page canvas: writes content-stream operators into the document's current page and keeps
// the text state (its attribute) so that text can be measured before it is set.

class TPdfDoc;
class TPdfFont;

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
    TPdfDictionary* Page() const { return m_page; }     // borrowed; null without a page
    TPdfStream* Contents() const { return m_contents; } // borrowed; null without a page
    TPdfDictionary& GetPage() const;                    // raises without a page
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
    // The line breaking of TextRect, for whoever shows the lines elsewhere (the report's view
    // of a text item): breaks at the word that would pass rect.Right (when wordWrap) and at
    // CR LF, with the current text state. Each line goes to showLine, uncut and without its
    // CR LF; nextLine comes between lines, each leading lower. The lines stop where the next
    // would reach below rect.Bottom; the first always shows.
    void TextRectLines(const TPdfBox& rect, float leading, std::string_view text, bool wordWrap,
                       const std::function<void(std::string_view line)>& showLine,
                       const std::function<void()>& nextLine) const;
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
