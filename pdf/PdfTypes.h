#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/Stream.h"

// The PDF object model: every piece of an output file is first a tree of these objects, each of
// which writes its own byte syntax.
//
// Ownership: a container (array, dictionary, stream) owns the direct objects put into it, as
// std::unique_ptr. Numbered (indirect) objects belong to the document's cross-reference table;
// putting one into a container stores a new TPdfVirtualObject that writes "n 0 R".

enum TPdfObjectKind : std::uint8_t
{
    okDirect = 0,   // written in place; owned by its container
    okIndirect = 1, // numbered, written once in the body; owned by the cross-reference table
    okVirtual = 2,  // a proxy that writes a reference to a numbered object
};

class TPdfObjectMgr;
class TSpoolFile;
class TPdfName;
class TPdfNumber;
class TPdfReal;
class TPdfArray;
class TPdfDictionary;

class TPdfObject
{
public:
    TPdfObject() = default;
    virtual ~TPdfObject() = default;
    TPdfObject(const TPdfObject&) = delete;
    TPdfObject& operator=(const TPdfObject&) = delete;

    TPdfObjectKind ObjectKind() const { return m_objectKind; }
    std::int32_t ObjectNumber() const { return m_objectNumber; }
    std::int32_t GenerationNumber() const { return m_generationNumber; }
    // Only the object manager numbers objects: > 0 makes the object indirect, else direct.
    void SetObjectNumber(std::int32_t number);

    // The form used inside another object: a reference for numbered and virtual objects, the
    // body otherwise.
    void WriteInline(TStream& stream) const;
    // The form used in the body of the file: "n g obj\r\n", body, "\r\nendobj\r\n".
    void WriteIndirect(TStream& stream) const;
    // The object's own syntax; empty in the base.
    virtual void WriteBody(TStream& stream) const;

protected:
    void SetObjectKind(TPdfObjectKind kind) { m_objectKind = kind; }

private:
    TPdfObjectKind m_objectKind = okDirect;
    std::int32_t m_objectNumber = -1;
    std::int32_t m_generationNumber = 0;
};

// Stands for a reference to a numbered object and holds nothing else. It has no parameterless
// constructor: an unnumbered proxy is refused at compile time.
class TPdfVirtualObject : public TPdfObject
{
public:
    explicit TPdfVirtualObject(std::int32_t objectNumber);
    static std::unique_ptr<TPdfVirtualObject> CreateVirtual(std::int32_t objectNumber)
    {
        return std::make_unique<TPdfVirtualObject>(objectNumber);
    }
};

class TPdfBoolean : public TPdfObject
{
public:
    explicit TPdfBoolean(bool value = false) : m_value(value) {}
    bool Value() const { return m_value; }
    void SetValue(bool value) { m_value = value; }
    // TPdfObject:
    void WriteBody(TStream& stream) const override;

private:
    bool m_value;
};

class TPdfNull : public TPdfObject
{
public:
    // TPdfObject:
    void WriteBody(TStream& stream) const override;
};

class TPdfNumber : public TPdfObject
{
public:
    explicit TPdfNumber(std::int32_t value = 0) : m_value(value) {}
    std::int32_t Value() const { return m_value; }
    void SetValue(std::int32_t value) { m_value = value; }
    // TPdfObject:
    void WriteBody(TStream& stream) const override;

private:
    std::int32_t m_value;
};

class TPdfReal : public TPdfObject
{
public:
    explicit TPdfReal(double value = 0) : m_value(value) {}
    double Value() const { return m_value; }
    void SetValue(double value) { m_value = value; }
    // TPdfObject:
    void WriteBody(TStream& stream) const override;

private:
    double m_value;
};

// A text (byte string in the narrow code page): a literal string, or the unicode hex form when
// it holds a multi-byte character.
class TPdfText : public TPdfObject
{
public:
    explicit TPdfText(std::string value = {}) : m_value(std::move(value)) {}
    const std::string& Value() const { return m_value; }
    void SetValue(std::string value) { m_value = std::move(value); }
    // TPdfObject:
    void WriteBody(TStream& stream) const override;

private:
    std::string m_value;
};

class TPdfName : public TPdfObject
{
public:
    explicit TPdfName(std::string value = {}) : m_value(std::move(value)) {}
    const std::string& Value() const { return m_value; }
    void SetValue(std::string value) { m_value = std::move(value); }
    // TPdfObject:
    void WriteBody(TStream& stream) const override;

private:
    std::string m_value;
};

class TPdfArray : public TPdfObject
{
public:
    explicit TPdfArray(TPdfObjectMgr* objectMgr); // not owned; may be null
    static std::unique_ptr<TPdfArray> CreateNumberArray(TPdfObjectMgr* objectMgr,
                                                        std::span<const int> values);

    // Takes a direct (or virtual) object; returns what was stored.
    TPdfObject& Append(std::unique_ptr<TPdfObject> direct);
    // Stores a reference to a numbered object.
    void Append(const TPdfObject& numbered);

    int ItemCount() const { return static_cast<int>(m_items.size()); }
    // Borrowed; a reference is resolved through the object manager (null without one).
    // Throws std::out_of_range for a bad index.
    TPdfObject* Item(int index) const;
    // The first item whose (name or text) value equals text exactly, or null.
    TPdfObject* FindName(std::string_view text) const;
    // Removes and frees a direct item found as FindName finds it; true when one was found.
    bool RemoveName(std::string_view text);
    TPdfObjectMgr* ObjectMgr() const { return m_objectMgr; }

    // TPdfObject:
    void WriteBody(TStream& stream) const override;

private:
    std::vector<std::unique_ptr<TPdfObject>> m_items;
    TPdfObjectMgr* m_objectMgr;
};

class TPdfDictionaryElement
{
public:
    TPdfDictionaryElement(std::string key, std::unique_ptr<TPdfObject> value, bool isInternal);
    const TPdfName& Key() const { return *m_key; }
    TPdfObject* Value() const { return m_value.get(); }
    bool IsInternal() const { return m_isInternal; }

private:
    std::unique_ptr<TPdfName> m_key;
    std::unique_ptr<TPdfObject> m_value;
    bool m_isInternal;
};

class TPdfDictionary : public TPdfObject
{
public:
    explicit TPdfDictionary(TPdfObjectMgr* objectMgr); // not owned; may be null

    int ItemCount() const { return static_cast<int>(m_items.size()); }
    // Insertion order; throws std::out_of_range for a bad index.
    TPdfDictionaryElement* Item(int index) const;

    // The value under key (exact), references resolved through the object manager; null when
    // missing or unresolvable. Internal entries are found too.
    TPdfObject* Lookup(std::string_view key) const;
    // Lookup taken as the class the caller put there (no check of the class is promised).
    TPdfNumber* LookupNumber(std::string_view key) const;
    TPdfReal* LookupReal(std::string_view key) const;
    TPdfName* LookupName(std::string_view key) const;
    TPdfDictionary* LookupDictionary(std::string_view key) const;
    TPdfArray* LookupArray(std::string_view key) const;

    // Removes key, then appends it with the direct value (owned). A null value raises
    // EPdfInvalidValue "internal error. wrong object.". Returns what was stored.
    TPdfObject& Put(std::string_view key, std::unique_ptr<TPdfObject> direct);
    // Removes key, then appends a reference to the numbered object.
    void Put(std::string_view key, const TPdfObject& numbered);
    // As Put, but the entry is never written.
    TPdfObject& PutInternal(std::string_view key, std::unique_ptr<TPdfObject> direct);
    void PutInternal(std::string_view key, const TPdfObject& numbered);
    // Removes and frees the first element with key; nothing when there is none.
    void Remove(std::string_view key);
    TPdfObjectMgr* ObjectMgr() const { return m_objectMgr; }

    // TPdfObject:
    void WriteBody(TStream& stream) const override;

private:
    std::vector<std::unique_ptr<TPdfDictionaryElement>> m_items;
    TPdfObjectMgr* m_objectMgr;
};

class TPdfStream : public TPdfObject
{
public:
    // Attributes starts with "Length" 0 and an empty "Filter" array, in that order.
    explicit TPdfStream(TPdfObjectMgr* objectMgr); // not owned; may be null

    TPdfDictionary& Attributes() { return *m_attributes; }
    const TPdfDictionary& Attributes() const { return *m_attributes; }
    // The stream's data are, in this order: the spooled bytes, the shared bytes, Data().
    // Data() holds what was written to the stream in memory (after SpoolData: what was added
    // since).
    TMemoryStream& Data() { return *m_data; }
    const TMemoryStream& Data() const { return *m_data; }

    // Takes bytes whose owner keeps them unchanged (a picture's JPEG) as the data that come
    // before Data(), without copying them: they are written from where they lie. Only while
    // the stream holds no data yet; raises EPdfInvalidOperation otherwise.
    void ShareData(std::shared_ptr<const std::string> bytes);
    const std::shared_ptr<const std::string>& SharedData() const { return m_shared; }

    // Moves the data held in memory (shared and in Data()) to the end of the spool (borrowed:
    // it must outlive this stream) and lets the memory go. The stream's data are then the
    // spooled bytes followed by whatever Data() holds; the file written is the same. A stream
    // spools once. Throws EFileError when the spool cannot take the bytes, which then stay in
    // memory.
    void SpoolData(TSpoolFile& spool);
    // The data's length, spooled and in memory.
    std::int64_t DataSize() const;
    std::int64_t SpooledSize() const { return m_spooledLength; }

    // TPdfObject:
    void WriteBody(TStream& stream) const override;

private:
    std::unique_ptr<TPdfDictionary> m_attributes;
    std::unique_ptr<TMemoryStream> m_data;
    std::shared_ptr<const std::string> m_shared;
    TSpoolFile* m_spool = nullptr; // where the first m_spooledLength bytes lie
    std::int64_t m_spooledAt = 0;
    std::int64_t m_spooledLength = 0;
};

// Bytes written verbatim.
class TPdfBinary : public TPdfObject
{
public:
    TPdfBinary();
    TMemoryStream& Data() { return *m_data; }
    const TMemoryStream& Data() const { return *m_data; }
    // TPdfObject:
    void WriteBody(TStream& stream) const override;

private:
    std::unique_ptr<TMemoryStream> m_data;
};

class TPdfXObject : public TPdfStream
{
public:
    using TPdfStream::TPdfStream;
};

class TPdfImage : public TPdfXObject
{
public:
    using TPdfXObject::TPdfXObject;
};

// Numbers objects and owns them; the document's cross-reference table is the only one.
class TPdfObjectMgr
{
public:
    virtual ~TPdfObjectMgr() = default;
    // Numbers a direct object and takes it over; returns it. A numbered or virtual object is
    // refused with EPdfInvalidOperation "AddObject --wrong object type." and stays with the
    // caller (the pointer is not consumed then).
    virtual TPdfObject& AddObject(std::unique_ptr<TPdfObject>&& object) = 0;
    // The object numbered number, or null for 0.
    virtual TPdfObject* ObjectAt(std::int32_t number) const = 0;

    // AddObject keeping the static type. It refuses as AddObject does, before it takes the
    // object over, so a refused object stays with the caller.
    template <class T>
    T& Add(std::unique_ptr<T>&& object)
    {
        CheckAddable(object.get());
        T& stored = *object;
        AddObject(std::unique_ptr<TPdfObject>(std::move(object)));
        return stored;
    }

protected:
    // Raises EPdfInvalidOperation "AddObject --wrong object type." unless object is a direct
    // one.
    static void CheckAddable(const TPdfObject* object);
};

// A rectangle in page space, origin at the bottom left.
struct TPdfBox
{
    float Left = 0;
    float Top = 0;
    float Right = 0;
    float Bottom = 0;
};

TPdfBox PdfBox(float left, float top, float right, float bottom);

// Text helpers. Texts are byte strings in the narrow code page.
void WriteString(std::string_view text, TStream& stream);
std::string EscapeText(std::string_view text);
std::string EscapeName(std::string_view text);
std::string BytesToHex(std::string_view text);
std::string TextToUnicodeHex(std::string_view text);
bool HasMultiByteChar(std::string_view text);
std::string UnicodeTextPrefix();
// Whether a text reads back unchanged from the literal form "(...)": readers take its bytes in
// PDFDocEncoding, which agrees with the narrow code page only on ASCII and Latin-1 letters and
// signs. Any other text is written in the unicode form.
bool FitsNarrowForm(std::string_view text);
// The decimal form of an integer, locale-proof.
std::string FormatInteger(std::int64_t value);
// The decimal form of value ("0" when negative), zero-padded on the left to width characters;
// a longer form is not cut.
std::string PadNumber(std::int64_t value, int width);
// Appends byte as two upper-case hexadecimal digits.
void AppendHexByte(std::string& out, unsigned char byte);
// Rounds to two decimals (half up) and writes the shortest form, "." as the separator.
std::string FormatReal(double value);
// The shortest form within 15 significant digits, as TPdfReal writes its value.
std::string FormatRealValue(double value);
// "D:yyyymmddhhnnss" plus the UTC offset in force at that local date-time.
std::string FormatPdfDate(double dateTime);
// The "Type" name of a dictionary, or "".
std::string GetTypeOf(const TPdfDictionary& dictionary);
