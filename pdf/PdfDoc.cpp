#include "pdf/PdfDoc.h"

#include <string>

#include "pdf/PdfFonts.h"
#include "platform/Services.h"
#include "platform/SpoolFile.h"

namespace
{

// Offsets are written in ten digits.
constexpr std::int64_t kMaxOffset = 9'999'999'999;

void CheckOffset(std::int64_t offset)
{
    if (offset > kMaxOffset)
    {
        throw EPdfInvalidOperation("SaveToStream --file too large.");
    }
}

} // namespace

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
    m_spool.reset();
    m_spoolFailed = false;
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
    const auto number = static_cast<std::int64_t>(m_fonts.size());
    font->Dictionary()->Put("Name", std::make_unique<TPdfName>("F" + FormatInteger(number)));
    m_fonts.push_back(std::move(font));
    return m_fonts.back().get();
}

TPdfXObject& TPdfDoc::RegisterXObject(std::unique_ptr<TPdfXObject> object, const std::string& name)
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
    if (numbered.ObjectKind() != okIndirect || numbered.ObjectNumber() >= m_xref->ItemCount() ||
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
    if (m_spoolImages && !m_spoolFailed)
    {
        try
        {
            if (!m_spool)
            {
                m_spool = std::make_unique<TSpoolFile>();
            }
            image->SpoolData(*m_spool);
        }
        catch (const EFileError&)
        {
            // No room or no temporary folder: this document keeps its images in memory.
            m_spoolFailed = true;
        }
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
