#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

#include "pdf/PdfTypes.h"
#include "platform/DateTime.h"

// Typed access to the document's dictionaries: the information dictionary, the catalog with its
// viewer settings, destinations, and the outline tree.

class TPdfDoc;

// ---------------------------------------------------------------------------------------------
// Enumerations and their names in the file

enum TPdfPageLayout : std::uint8_t
{
    plSinglePage,
    plOneColumn,
    plTwoColumnLeft,
    plTwoColumnRight,
};

enum TPdfPageMode : std::uint8_t
{
    pmUseNone,
    pmUseOutlines,
    pmUseThumbs,
    pmFullScreen,
};

enum TPdfViewerPreference : std::uint8_t
{
    vpHideToolbar,
    vpHideMenubar,
    vpHideWindowUI,
    vpFitWindow,
    vpCenterWindow,
};

enum TPdfDestinationType : std::uint8_t
{
    dtXYZ,
    dtFit,
    dtFitH,
    dtFitV,
    dtFitR,
    dtFitB,
    dtFitBH,
    dtFitBV,
};

// Indexed by the enumeration value.
inline constexpr std::array<const char*, 4> kPdfPageLayoutNames = {
    "SinglePage", "OneColumn", "TwoColumnLeft", "TwoColumnRight"};
inline constexpr std::array<const char*, 4> kPdfPageModeNames = {"UseNone", "UseOutlines",
                                                                 "UseThumbs", "FullScreen"};
inline constexpr std::array<const char*, 5> kPdfViewerPreferenceNames = {
    "HideToolbar", "HideMenubar", "HideWindowUI", "FitWindow", "CenterWindow"};
inline constexpr std::array<const char*, 8> kPdfDestinationTypeNames = {
    "XYZ", "Fit", "FitH", "FitV", "FitR", "FitB", "FitBH", "FitBV"};

// A set of viewer preferences.
class TPdfViewerPreferences
{
public:
    constexpr TPdfViewerPreferences() = default;
    constexpr TPdfViewerPreferences(std::initializer_list<TPdfViewerPreference> members)
    {
        for (TPdfViewerPreference member : members)
        {
            Include(member);
        }
    }

    constexpr bool Contains(TPdfViewerPreference member) const
    {
        return (m_bits & Bit(member)) != 0;
    }
    constexpr void Include(TPdfViewerPreference member)
    {
        m_bits = static_cast<std::uint8_t>(m_bits | Bit(member));
    }
    constexpr void Exclude(TPdfViewerPreference member)
    {
        m_bits = static_cast<std::uint8_t>(m_bits & ~Bit(member));
    }
    constexpr bool Empty() const { return m_bits == 0; }
    constexpr bool operator==(const TPdfViewerPreferences&) const = default;

private:
    static constexpr std::uint8_t Bit(TPdfViewerPreference member)
    {
        return static_cast<std::uint8_t>(1U << member);
    }
    std::uint8_t m_bits = 0;
};

// ---------------------------------------------------------------------------------------------
// Dictionary wrappers

// Gives typed access to one dictionary of the document. The dictionary is borrowed: the
// cross-reference table owns it. Wrappers are owned by the document (or, for fonts, by its
// font list) and die with it.
class TPdfDictionaryWrapper
{
public:
    TPdfDictionaryWrapper() = default;
    virtual ~TPdfDictionaryWrapper() = default;
    TPdfDictionaryWrapper(const TPdfDictionaryWrapper&) = delete;
    TPdfDictionaryWrapper& operator=(const TPdfDictionaryWrapper&) = delete;

    virtual void SetDictionary(TPdfDictionary* dictionary) { m_dictionary = dictionary; }
    TPdfDictionary* Dictionary() const { return m_dictionary; } // borrowed; null until set

private:
    TPdfDictionary* m_dictionary = nullptr;
};

// The document information dictionary. Each setter replaces its entry (moving it to the end).
class TPdfInfo : public TPdfDictionaryWrapper
{
public:
    void SetAuthor(const std::string& value);
    void SetCreationDate(TDateTime value);
    void SetModDate(TDateTime value);
    void SetCreator(const std::string& value);
    void SetTitle(const std::string& value);
    void SetSubject(const std::string& value);
    void SetKeywords(const std::string& value);
};

// A place in the document to jump to. Made and owned by whoever uses it; the catalog and the
// outline entries only borrow it.
class TPdfDestination
{
public:
    // page must be a numbered page dictionary of doc.
    TPdfDestination(TPdfDoc& doc, const TPdfDictionary& page, TPdfDestinationType type);

    TPdfDoc& Doc() const { return *m_doc; }
    const TPdfDictionary& Page() const { return *m_page; }
    TPdfDestinationType DestinationType() const { return m_destinationType; }
    void SetDestinationType(TPdfDestinationType type) { m_destinationType = type; }
    std::int32_t Left() const { return m_left; }
    void SetLeft(std::int32_t value) { m_left = value; }
    std::int32_t Top() const { return m_top; }
    void SetTop(std::int32_t value) { m_top = value; }
    std::int32_t Right() const { return m_right; }
    void SetRight(std::int32_t value) { m_right = value; }
    std::int32_t Bottom() const { return m_bottom; }
    void SetBottom(std::int32_t value) { m_bottom = value; }
    float Zoom() const { return m_zoom; }
    void SetZoom(float value) { m_zoom = value; }

    // The destination as a new array: page reference, type name, operands. A negative zoom of
    // an XYZ destination is set to 0 here.
    std::unique_ptr<TPdfArray> GetValue();

private:
    TPdfDoc* m_doc;
    const TPdfDictionary* m_page;
    TPdfDestinationType m_destinationType;
    std::int32_t m_left = 0;
    std::int32_t m_top = 0;
    std::int32_t m_right = 0;
    std::int32_t m_bottom = 0;
    float m_zoom = 0;
};

// The document catalog.
class TPdfCatalog : public TPdfDictionaryWrapper
{
public:
    void SetPageLayout(TPdfPageLayout value);
    void SetPageMode(TPdfPageMode value);
    void SetNonFullScreenPageMode(TPdfPageMode value);
    void SetViewerPreference(TPdfViewerPreferences value);
    // Puts pages under "Pages" when its "Type" is "Pages"; ignores any other dictionary.
    void SetPages(const TPdfDictionary& pages);

    TPdfDestination* OpenAction() const { return m_openAction; } // borrowed
    void SetOpenAction(TPdfDestination* destination) { m_openAction = destination; }
    // Brings "OpenAction" up to date before a save.
    void SaveOpenAction();

private:
    TPdfDictionary* ViewerPreferences(bool create);

    TPdfDestination* m_openAction = nullptr;
};

// Whatever an outline entry is asked to keep alive with it (the report layer's companion of
// the outline root registers itself here).
class TPdfOutlineReference
{
public:
    TPdfOutlineReference() = default;
    virtual ~TPdfOutlineReference() = default;
    TPdfOutlineReference(const TPdfOutlineReference&) = delete;
    TPdfOutlineReference& operator=(const TPdfOutlineReference&) = delete;
};

class TPdfOutlineEntry : public TPdfDictionaryWrapper
{
public:
    // Makes an entry under parent with a numbered dictionary of its own, hands it to the
    // parent's document and returns it. The entry is not linked into the parent's children.
    // A null parent raises Exception "CreateEntry --invalid parent.".
    static TPdfOutlineEntry& CreateEntry(TPdfOutlineEntry* parent);

    TPdfOutlineEntry* Parent() const { return m_parent; }
    TPdfOutlineEntry* Next() const { return m_next; }
    void SetNext(TPdfOutlineEntry* entry) { m_next = entry; }
    TPdfOutlineEntry* Prev() const { return m_prev; }
    void SetPrev(TPdfOutlineEntry* entry) { m_prev = entry; }
    TPdfOutlineEntry* First() const { return m_first; }
    void SetFirst(TPdfOutlineEntry* entry) { m_first = entry; }
    TPdfOutlineEntry* Last() const { return m_last; }
    void SetLast(TPdfOutlineEntry* entry) { m_last = entry; }
    TPdfDestination* Dest() const { return m_dest; } // borrowed
    void SetDest(TPdfDestination* destination) { m_dest = destination; }
    TPdfDoc& Doc() const { return *m_doc; }
    const std::string& Title() const { return m_title; }
    void SetTitle(std::string title) { m_title = std::move(title); }
    bool Opened() const { return m_opened; }
    void SetOpened(bool opened) { m_opened = opened; }
    std::int32_t Count() const { return m_count; }
    void SetCount(std::int32_t count) { m_count = count; }
    // Owned; freed with the entry.
    TPdfOutlineReference* Reference() const { return m_reference.get(); }
    void SetReference(std::unique_ptr<TPdfOutlineReference> reference)
    {
        m_reference = std::move(reference);
    }

    // Writes the entry's keys, then saves its first child and its next sibling.
    virtual void Save();

protected:
    TPdfOutlineEntry(TPdfDoc& doc, TPdfOutlineEntry* parent, bool opened);
    // Makes, numbers and wraps this entry's dictionary.
    void CreateDictionary();

private:
    TPdfOutlineEntry* m_parent;
    TPdfOutlineEntry* m_next = nullptr;
    TPdfOutlineEntry* m_prev = nullptr;
    TPdfOutlineEntry* m_first = nullptr;
    TPdfOutlineEntry* m_last = nullptr;
    TPdfDestination* m_dest = nullptr;
    TPdfDoc* m_doc;
    std::string m_title;
    bool m_opened;
    std::int32_t m_count = 0;
    std::unique_ptr<TPdfOutlineReference> m_reference;
};

class TPdfOutlineRoot : public TPdfOutlineEntry
{
public:
    // Makes the root (/Type /Outlines, opened, count 0) with a numbered dictionary, hands it to
    // the document and returns it.
    static TPdfOutlineRoot& CreateRoot(TPdfDoc& doc);

    // TPdfOutlineEntry:
    void Save() override;

private:
    explicit TPdfOutlineRoot(TPdfDoc& doc);
};
