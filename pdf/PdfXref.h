#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pdf/PdfTypes.h"

// The cross-reference table and the file layout around the objects: the header line, the table
// that numbers and owns every indirect object, and the trailer.

// One line of the cross-reference table. Entry 0 is the free entry; every other entry owns the
// object that carries its number.
class TPdfXrefEntry
{
public:
    // A null value makes the free entry ("f", generation 65535); otherwise an in-use entry ("n")
    // that takes the object over and copies its generation.
    explicit TPdfXrefEntry(std::unique_ptr<TPdfObject> value);

    const std::string& EntryType() const { return m_entryType; }
    // Where the object's "n 0 obj" line starts in the output; -1 until written.
    std::int64_t ByteOffset() const { return m_byteOffset; }
    void SetByteOffset(std::int64_t offset) { m_byteOffset = offset; }
    std::int32_t GenerationNumber() const { return m_generationNumber; }
    TPdfObject* Value() const { return m_value.get(); } // borrowed; null for the free entry
    // The 18 bytes of the entry's line, without the line end.
    std::string AsString() const;

private:
    std::string m_entryType;
    std::int64_t m_byteOffset = -1;
    std::int32_t m_generationNumber;
    std::unique_ptr<TPdfObject> m_value;
};

// The document's object manager: numbers objects 1, 2, 3 ... in the order they are added and
// owns them.
class TPdfXref : public TPdfObjectMgr
{
public:
    TPdfXref(); // with the free entry 0
    TPdfXref(const TPdfXref&) = delete;
    TPdfXref& operator=(const TPdfXref&) = delete;

    // TPdfObjectMgr:
    TPdfObject& AddObject(std::unique_ptr<TPdfObject>&& object) override;
    // Throws std::out_of_range for a number outside the table.
    TPdfObject* ObjectAt(std::int32_t number) const override;

    // Entries, the free entry included.
    int ItemCount() const { return static_cast<int>(m_entries.size()); }
    // Throws std::out_of_range for a bad index.
    TPdfXrefEntry& Item(int index) const;
    // The cross-reference section, "xref" to the last entry line.
    void WriteToStream(TStream& stream) const;

private:
    std::vector<std::unique_ptr<TPdfXrefEntry>> m_entries;
};

class TPdfHeader
{
public:
    void WriteToStream(TStream& stream) const;
};

class TPdfTrailer
{
public:
    // Attributes start with "Size" 0; the document adds "Root" and "Info".
    explicit TPdfTrailer(TPdfObjectMgr* objectMgr);

    TPdfDictionary& Attributes() { return *m_attributes; }
    const TPdfDictionary& Attributes() const { return *m_attributes; }
    std::int64_t XrefAddress() const { return m_xrefAddress; }
    void SetXrefAddress(std::int64_t address) { m_xrefAddress = address; }
    // "trailer", the dictionary, "startxref", the address and "%%EOF".
    void WriteToStream(TStream& stream) const;

private:
    std::unique_ptr<TPdfDictionary> m_attributes;
    std::int64_t m_xrefAddress = 0;
};
