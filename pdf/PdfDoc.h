#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pdf/PdfCanvas.h"
#include "pdf/PdfFont.h"
#include "pdf/PdfTypes.h"
#include "pdf/PdfWrappers.h"
#include "pdf/PdfXref.h"

// The document: opens a file's worth of objects (catalog, outlines, info, page tree), adds pages
// for its canvas to draw on, makes fonts and registers images, and saves the whole file. It
// includes the other units of the writer, so its callers reach the whole document API here.

enum TPdfCompressionMethod : std::uint8_t
{
    cmNone,
};

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

    // Writes the whole file from position 0 of the stream, wherever it stood before: the
    // offsets in the file count from its start. The stream is not truncated, so a longer one
    // keeps its tail; hand in an empty one. The document stays open.
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
    // The data of an image go to a temporary file when it is added (TSpoolFile) and are copied
    // from there when the document is written, so memory stays flat however many pages there
    // are; the file written is the same. On by default. When the temporary file cannot be
    // made or written, the data stay in memory.
    bool SpoolImages() const { return m_spoolImages; }
    void SetSpoolImages(bool value) { m_spoolImages = value; }

private:
    void CheckOpen(const char* message) const;
    void CreateCatalog();
    void CreateOutlines();
    void CreateInfo();
    void CreatePages();

    TPdfCatalog* m_root = nullptr;
    TPdfDictionary* m_currentPages = nullptr;
    std::unique_ptr<TPdfCanvas> m_canvas;
    // Made at the first image; declared before m_xref, whose images point into it, so that it
    // outlives them.
    std::unique_ptr<TSpoolFile> m_spool;
    std::unique_ptr<TPdfHeader> m_header;
    std::unique_ptr<TPdfTrailer> m_trailer;
    std::unique_ptr<TPdfXref> m_xref;
    bool m_spoolImages = true;
    bool m_spoolFailed = false;
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
