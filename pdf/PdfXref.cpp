#include "pdf/PdfXref.h"

#include <stdexcept>
#include <string>

TPdfXrefEntry::TPdfXrefEntry(std::unique_ptr<TPdfObject> value)
    : m_entryType(value ? "n" : "f"), m_generationNumber(value ? value->GenerationNumber() : 65535),
      m_value(std::move(value))
{
}

std::string TPdfXrefEntry::AsString() const
{
    return PadNumber(m_byteOffset, 10) + " " + PadNumber(m_generationNumber, 5) + " " + m_entryType;
}

TPdfXref::TPdfXref()
{
    m_entries.push_back(std::make_unique<TPdfXrefEntry>(nullptr));
}

TPdfObject& TPdfXref::AddObject(std::unique_ptr<TPdfObject>&& object)
{
    CheckAddable(object.get());
    TPdfObject& stored = *object;
    m_entries.push_back(std::make_unique<TPdfXrefEntry>(std::move(object)));
    stored.SetObjectNumber(static_cast<std::int32_t>(m_entries.size() - 1));
    return stored;
}

TPdfObject* TPdfXref::ObjectAt(std::int32_t number) const
{
    if (number < 0)
    {
        throw std::out_of_range("TPdfXref::ObjectAt");
    }
    return m_entries.at(static_cast<std::size_t>(number))->Value();
}

TPdfXrefEntry& TPdfXref::Item(int index) const
{
    if (index < 0)
    {
        throw std::out_of_range("TPdfXref::Item");
    }
    return *m_entries.at(static_cast<std::size_t>(index));
}

void TPdfXref::WriteToStream(TStream& stream) const
{
    std::string text = "xref\r\n0 " + FormatInteger(ItemCount()) + "\r\n";
    text.reserve(text.size() + m_entries.size() * 20);
    for (const auto& entry : m_entries)
    {
        text += entry->AsString();
        text += "\r\n";
    }
    WriteString(text, stream);
}

void TPdfHeader::WriteToStream(TStream& stream) const
{
    WriteString("%PDF-1.2 \r\n", stream);
}

TPdfTrailer::TPdfTrailer(TPdfObjectMgr* objectMgr)
    : m_attributes(std::make_unique<TPdfDictionary>(objectMgr))
{
    m_attributes->Put("Size", std::make_unique<TPdfNumber>(0));
}

void TPdfTrailer::WriteToStream(TStream& stream) const
{
    WriteString("trailer\r\n", stream);
    m_attributes->WriteInline(stream);
    WriteString("\r\nstartxref\r\n" + FormatInteger(m_xrefAddress) + "\r\n%%EOF\r\n", stream);
}
