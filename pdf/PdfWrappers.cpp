#include "pdf/PdfWrappers.h"

#include <string>

#include "pdf/PdfDoc.h"

namespace
{

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

TPdfDestination::TPdfDestination(TPdfDoc& doc, const TPdfDictionary& page, TPdfDestinationType type)
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
