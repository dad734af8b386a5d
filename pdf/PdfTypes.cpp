#include "pdf/PdfTypes.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "platform/DateTime.h"
#include "platform/Services.h"
#include "platform/SpoolFile.h"

namespace
{

constexpr char kHexDigits[] = "0123456789ABCDEF";
// Stream data are counted by a 32-bit "Length" number.
constexpr std::int64_t kMaxStreamLength = 2'147'483'647;

std::unique_ptr<TPdfVirtualObject> ReferenceTo(const TPdfObject& numbered)
{
    return TPdfVirtualObject::CreateVirtual(numbered.ObjectNumber());
}

TPdfObject* Resolve(TPdfObject* item, const TPdfObjectMgr* objectMgr)
{
    if (item == nullptr || item->ObjectKind() != okVirtual)
    {
        return item;
    }
    return objectMgr != nullptr ? objectMgr->ObjectAt(item->ObjectNumber()) : nullptr;
}

// The (name or text) value of an object, or null for any other kind.
const std::string* TextValue(const TPdfObject* object)
{
    if (const auto* name = dynamic_cast<const TPdfName*>(object))
    {
        return &name->Value();
    }
    if (const auto* text = dynamic_cast<const TPdfText*>(object))
    {
        return &text->Value();
    }
    return nullptr;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TPdfObject

void TPdfObject::SetObjectNumber(std::int32_t number)
{
    m_objectNumber = number;
    m_objectKind = number > 0 ? okIndirect : okDirect;
}

void TPdfObject::WriteInline(TStream& stream) const
{
    if (m_objectKind != okDirect)
    {
        WriteString(FormatInteger(m_objectNumber) + " " + FormatInteger(m_generationNumber) + " R",
                    stream);
        return;
    }
    WriteBody(stream);
}

void TPdfObject::WriteIndirect(TStream& stream) const
{
    if (m_objectKind != okIndirect)
    {
        throw EPdfInvalidOperation("internal error wrong object type");
    }
    WriteString(FormatInteger(m_objectNumber) + " " + FormatInteger(m_generationNumber) +
                    " obj\r\n",
                stream);
    WriteBody(stream);
    WriteString("\r\nendobj\r\n", stream);
}

void TPdfObject::WriteBody(TStream&) const {}

TPdfVirtualObject::TPdfVirtualObject(std::int32_t objectNumber)
{
    SetObjectNumber(objectNumber);
    SetObjectKind(okVirtual);
}

// ---------------------------------------------------------------------------------------------
// Values

void TPdfBoolean::WriteBody(TStream& stream) const
{
    WriteString(m_value ? "true" : "false", stream);
}

void TPdfNull::WriteBody(TStream& stream) const
{
    WriteString("null", stream);
}

void TPdfNumber::WriteBody(TStream& stream) const
{
    WriteString(FormatInteger(m_value), stream);
}

void TPdfReal::WriteBody(TStream& stream) const
{
    WriteString(FormatRealValue(m_value), stream);
}

void TPdfText::WriteBody(TStream& stream) const
{
    if (!FitsNarrowForm(m_value))
    {
        WriteString("<" + UnicodeTextPrefix() + TextToUnicodeHex(m_value) + ">", stream);
        return;
    }
    WriteString("(" + EscapeText(m_value) + ")", stream);
}

void TPdfName::WriteBody(TStream& stream) const
{
    WriteString("/" + EscapeName(m_value), stream);
}

// ---------------------------------------------------------------------------------------------
// TPdfArray

TPdfArray::TPdfArray(TPdfObjectMgr* objectMgr) : m_objectMgr(objectMgr) {}

std::unique_ptr<TPdfArray> TPdfArray::CreateNumberArray(TPdfObjectMgr* objectMgr,
                                                        std::span<const int> values)
{
    auto array = std::make_unique<TPdfArray>(objectMgr);
    for (int value : values)
    {
        array->Append(std::make_unique<TPdfNumber>(value));
    }
    return array;
}

TPdfObject& TPdfArray::Append(std::unique_ptr<TPdfObject> direct)
{
    if (!direct || direct->ObjectKind() == okIndirect)
    {
        // A numbered object belongs to the cross-reference table: owning it here too would
        // free it twice.
        throw EPdfInvalidValue("internal error. wrong object.");
    }
    m_items.push_back(std::move(direct));
    return *m_items.back();
}

void TPdfArray::Append(const TPdfObject& numbered)
{
    if (numbered.ObjectKind() == okDirect)
    {
        throw EPdfInvalidValue("internal error. wrong object.");
    }
    m_items.push_back(ReferenceTo(numbered));
}

TPdfObject* TPdfArray::Item(int index) const
{
    return Resolve(m_items.at(static_cast<std::size_t>(index)).get(), m_objectMgr);
}

TPdfObject* TPdfArray::FindName(std::string_view text) const
{
    for (int i = 0; i < ItemCount(); ++i)
    {
        TPdfObject* item = Item(i);
        const std::string* value = TextValue(item);
        if (value != nullptr && *value == text)
        {
            return item;
        }
    }
    return nullptr;
}

bool TPdfArray::RemoveName(std::string_view text)
{
    TPdfObject* found = FindName(text);
    if (found == nullptr)
    {
        return false;
    }
    for (auto it = m_items.begin(); it != m_items.end(); ++it)
    {
        if (it->get() == found)
        {
            m_items.erase(it);
            break;
        }
    }
    return true;
}

void TPdfArray::WriteBody(TStream& stream) const
{
    WriteString("[", stream);
    for (const auto& item : m_items)
    {
        item->WriteInline(stream);
        WriteString(" ", stream);
    }
    WriteString("]", stream);
}

// ---------------------------------------------------------------------------------------------
// TPdfDictionary

TPdfDictionaryElement::TPdfDictionaryElement(std::string key, std::unique_ptr<TPdfObject> value,
                                             bool isInternal)
    : m_key(std::make_unique<TPdfName>(std::move(key))), m_value(std::move(value)),
      m_isInternal(isInternal)
{
}

TPdfDictionary::TPdfDictionary(TPdfObjectMgr* objectMgr) : m_objectMgr(objectMgr) {}

TPdfDictionaryElement* TPdfDictionary::Item(int index) const
{
    return m_items.at(static_cast<std::size_t>(index)).get();
}

TPdfObject* TPdfDictionary::Lookup(std::string_view key) const
{
    for (const auto& element : m_items)
    {
        if (element->Key().Value() == key)
        {
            return Resolve(element->Value(), m_objectMgr);
        }
    }
    return nullptr;
}

// The typed look-ups check the class after all: a key holding something else gives null
// rather than an object of the wrong type.
TPdfNumber* TPdfDictionary::LookupNumber(std::string_view key) const
{
    return dynamic_cast<TPdfNumber*>(Lookup(key));
}

TPdfReal* TPdfDictionary::LookupReal(std::string_view key) const
{
    return dynamic_cast<TPdfReal*>(Lookup(key));
}

TPdfName* TPdfDictionary::LookupName(std::string_view key) const
{
    return dynamic_cast<TPdfName*>(Lookup(key));
}

TPdfDictionary* TPdfDictionary::LookupDictionary(std::string_view key) const
{
    return dynamic_cast<TPdfDictionary*>(Lookup(key));
}

TPdfArray* TPdfDictionary::LookupArray(std::string_view key) const
{
    return dynamic_cast<TPdfArray*>(Lookup(key));
}

namespace
{

void CheckStorable(const TPdfObject* value, bool byReference)
{
    if (value == nullptr ||
        (byReference ? value->ObjectKind() == okDirect : value->ObjectKind() == okIndirect))
    {
        throw EPdfInvalidValue("internal error. wrong object.");
    }
}

} // namespace

TPdfObject& TPdfDictionary::Put(std::string_view key, std::unique_ptr<TPdfObject> direct)
{
    CheckStorable(direct.get(), false);
    Remove(key);
    m_items.push_back(
        std::make_unique<TPdfDictionaryElement>(std::string(key), std::move(direct), false));
    return *m_items.back()->Value();
}

void TPdfDictionary::Put(std::string_view key, const TPdfObject& numbered)
{
    CheckStorable(&numbered, true);
    Remove(key);
    m_items.push_back(
        std::make_unique<TPdfDictionaryElement>(std::string(key), ReferenceTo(numbered), false));
}

TPdfObject& TPdfDictionary::PutInternal(std::string_view key, std::unique_ptr<TPdfObject> direct)
{
    CheckStorable(direct.get(), false);
    Remove(key);
    m_items.push_back(
        std::make_unique<TPdfDictionaryElement>(std::string(key), std::move(direct), true));
    return *m_items.back()->Value();
}

void TPdfDictionary::PutInternal(std::string_view key, const TPdfObject& numbered)
{
    CheckStorable(&numbered, true);
    Remove(key);
    m_items.push_back(
        std::make_unique<TPdfDictionaryElement>(std::string(key), ReferenceTo(numbered), true));
}

void TPdfDictionary::Remove(std::string_view key)
{
    for (auto it = m_items.begin(); it != m_items.end(); ++it)
    {
        if ((*it)->Key().Value() == key)
        {
            m_items.erase(it);
            return;
        }
    }
}

void TPdfDictionary::WriteBody(TStream& stream) const
{
    WriteString("<<\r\n", stream);
    for (const auto& element : m_items)
    {
        if (element->IsInternal())
        {
            continue;
        }
        element->Key().WriteInline(stream);
        WriteString(" ", stream);
        element->Value()->WriteInline(stream);
        WriteString("\r\n", stream);
    }
    WriteString(">>", stream);
}

// ---------------------------------------------------------------------------------------------
// Streams

TPdfStream::TPdfStream(TPdfObjectMgr* objectMgr)
    : m_attributes(std::make_unique<TPdfDictionary>(objectMgr)),
      m_data(std::make_unique<TMemoryStream>())
{
    m_attributes->Put("Length", std::make_unique<TPdfNumber>(0));
    m_attributes->Put("Filter", std::make_unique<TPdfArray>(objectMgr));
}

void TPdfStream::SpoolData(TSpoolFile& spool)
{
    if (m_spool != nullptr)
    {
        throw EPdfInvalidOperation("SpoolData --the data are spooled already.");
    }
    // The shared bytes go to the spool straight from their owner's buffer. Should the second
    // append fail, the first one's bytes stay unused in the spool, as a partial write's do.
    const std::string& bytes = m_data->Bytes();
    const std::int64_t sharedSize = m_shared ? static_cast<std::int64_t>(m_shared->size()) : 0;
    std::int64_t at = spool.Size();
    if (sharedSize > 0)
    {
        at = spool.Append(m_shared->data(), m_shared->size());
    }
    if (!bytes.empty())
    {
        const std::int64_t dataAt = spool.Append(bytes.data(), bytes.size());
        if (sharedSize == 0)
        {
            at = dataAt;
        }
    }
    m_spooledAt = at;
    m_spooledLength = sharedSize + static_cast<std::int64_t>(bytes.size());
    m_spool = &spool;
    m_shared.reset();
    m_data = std::make_unique<TMemoryStream>();
}

void TPdfStream::ShareData(std::shared_ptr<const std::string> bytes)
{
    if (DataSize() != 0)
    {
        throw EPdfInvalidOperation("ShareData --the stream holds data already.");
    }
    m_shared = std::move(bytes);
}

std::int64_t TPdfStream::DataSize() const
{
    const std::int64_t shared = m_shared ? static_cast<std::int64_t>(m_shared->size()) : 0;
    return m_spooledLength + shared + m_data->Size();
}

void TPdfStream::WriteBody(TStream& stream) const
{
    // Nothing is ever compressed, so a compression filter must not reach the file.
    if (TPdfArray* filter = m_attributes->LookupArray("Filter"))
    {
        filter->RemoveName("FlateDecode");
    }
    // The data are written straight from their buffer or the spool: a scratch copy would only
    // double the memory a large picture needs.
    const std::int64_t size = DataSize();
    if (size > kMaxStreamLength)
    {
        throw EPdfInvalidOperation("SaveToStream --file too large.");
    }
    if (TPdfNumber* length = m_attributes->LookupNumber("Length"))
    {
        length->SetValue(static_cast<std::int32_t>(size));
    }
    m_attributes->WriteInline(stream);
    WriteString("\r\nstream\r\n", stream);
    if (m_spool != nullptr)
    {
        m_spool->CopyTo(m_spooledAt, m_spooledLength, stream);
    }
    if (m_shared)
    {
        WriteString(*m_shared, stream);
    }
    WriteString(m_data->Bytes(), stream);
    WriteString("\nendstream", stream);
}

TPdfBinary::TPdfBinary() : m_data(std::make_unique<TMemoryStream>()) {}

void TPdfBinary::WriteBody(TStream& stream) const
{
    WriteString(m_data->Bytes(), stream);
}

// ---------------------------------------------------------------------------------------------
// Free operations

void TPdfObjectMgr::CheckAddable(const TPdfObject* object)
{
    if (object == nullptr || object->ObjectKind() != okDirect)
    {
        throw EPdfInvalidOperation("AddObject --wrong object type.");
    }
}

TPdfBox PdfBox(float left, float top, float right, float bottom)
{
    TPdfBox box;
    box.Left = left;
    box.Top = top;
    box.Right = right;
    box.Bottom = bottom;
    return box;
}

void WriteString(std::string_view text, TStream& stream)
{
    if (!text.empty())
    {
        stream.Write(text.data(), text.size());
    }
}

std::string EscapeText(std::string_view text)
{
    static constexpr std::string_view kEscaped = "()\\\r\n\t\b\f";
    static constexpr std::string_view kReplacement = "()\\rntbf";
    std::string out;
    out.reserve(text.size());
    for (char c : text)
    {
        std::size_t index = kEscaped.find(c);
        if (index != std::string_view::npos)
        {
            out += '\\';
            out += kReplacement[index];
        }
        else
        {
            out += c;
        }
    }
    return out;
}

std::string EscapeName(std::string_view text)
{
    static constexpr std::string_view kDelimiters = "#%()/<>[]{}";
    std::string out;
    out.reserve(text.size());
    for (char c : text)
    {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 33 || byte > 126 || kDelimiters.find(c) != std::string_view::npos)
        {
            out += '#';
            AppendHexByte(out, byte);
        }
        else
        {
            out += c;
        }
    }
    return out;
}

std::string BytesToHex(std::string_view text)
{
    std::string out;
    out.reserve(text.size() * 2);
    for (char c : text)
    {
        AppendHexByte(out, static_cast<unsigned char>(c));
    }
    return out;
}

std::string TextToUnicodeHex(std::string_view text)
{
    const std::u16string units = CodePage().ToUtf16(text);
    std::string out;
    out.reserve(units.size() * 4);
    for (char16_t unit : units)
    {
        AppendHexByte(out, static_cast<unsigned char>(unit >> 8));
        AppendHexByte(out, static_cast<unsigned char>(unit & 0xFF));
    }
    return out;
}

bool HasMultiByteChar(std::string_view text)
{
    return CodePage().HasMultiByteChar(text);
}

std::string UnicodeTextPrefix()
{
    // The byte order mark alone: a language escape (U+001B "en" U+001B) after it is shown as
    // text by readers that do not know it, which most do not.
    return "FEFF";
}

bool FitsNarrowForm(std::string_view text)
{
    if (HasMultiByteChar(text))
    {
        return false;
    }
    const std::u16string units = CodePage().ToUtf16(text);
    if (units.size() != text.size())
    {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        const auto byte = static_cast<unsigned char>(text[i]);
        // PDFDocEncoding has accents at 0x18..0x1F, nothing at 0x7F and 0xAD, and its own
        // characters at 0x80..0xA0.
        const bool sameInPdfDoc =
            (byte < 0x18 || (byte > 0x1F && byte < 0x7F) || (byte >= 0xA1 && byte != 0xAD));
        if (units[i] != byte || !sameInPdfDoc)
        {
            return false;
        }
    }
    return true;
}

std::string FormatRealValue(double value)
{
    // A number the PDF syntax cannot spell is written as 0 rather than as "inf" or "nan".
    if (value == 0 || !std::isfinite(value))
    {
        return "0";
    }
    // 15 significant digits in scientific form: d.dddddddddddddde±x
    char buffer[40];
    auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 14);
    std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
    std::string out;
    if (text.front() == '-')
    {
        out += '-';
        text.remove_prefix(1);
    }
    const std::size_t e = text.find('e');
    int exponent = 0;
    std::string_view exponentText = text.substr(e + 1);
    if (exponentText.front() == '+')
    {
        exponentText.remove_prefix(1);
    }
    std::from_chars(exponentText.data(), exponentText.data() + exponentText.size(), exponent);
    std::string digits;
    for (char c : text.substr(0, e))
    {
        if (c != '.')
        {
            digits += c;
        }
    }
    while (digits.size() > 1 && digits.back() == '0')
    {
        digits.pop_back();
    }

    if (exponent >= -5 && exponent <= 14)
    {
        if (exponent < 0)
        {
            out += "0.";
            out.append(static_cast<std::size_t>(-exponent - 1), '0');
            out += digits;
        }
        else
        {
            const auto integerDigits = static_cast<std::size_t>(exponent) + 1;
            if (digits.size() <= integerDigits)
            {
                out += digits;
                out.append(integerDigits - digits.size(), '0');
            }
            else
            {
                out += digits.substr(0, integerDigits);
                out += '.';
                out += digits.substr(integerDigits);
            }
        }
        return out;
    }
    out += digits.front();
    if (digits.size() > 1)
    {
        out += '.';
        out += digits.substr(1);
    }
    out += 'E';
    out += FormatInteger(exponent);
    return out;
}

std::string FormatReal(double value)
{
    return FormatRealValue(std::floor(value * 100 + 0.5) / 100);
}

std::string FormatInteger(std::int64_t value)
{
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string PadNumber(std::int64_t value, int width)
{
    std::string text = value < 0 ? std::string("0") : FormatInteger(value);
    if (static_cast<int>(text.size()) < width)
    {
        text.insert(0, static_cast<std::size_t>(width) - text.size(), '0');
    }
    return text;
}

void AppendHexByte(std::string& out, unsigned char byte)
{
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 0x0F];
}

std::string FormatPdfDate(double dateTime)
{
    const TDateTimeParts parts = DecodeDateTime(dateTime);
    std::string year = FormatInteger(parts.Year);
    if (year.size() < 4)
    {
        year.insert(0, 4 - year.size(), '0');
    }
    std::string out = "D:" + year + PadNumber(parts.Month, 2) + PadNumber(parts.Day, 2) +
                      PadNumber(parts.Hour, 2) + PadNumber(parts.Minute, 2) +
                      PadNumber(parts.Second, 2);
    // The offset really in force at that moment, daylight saving included, in whole minutes;
    // "-" for UTC itself.
    const long minutes = TimeZone().UtcOffsetSeconds(parts) / 60;
    const long magnitude = std::labs(minutes);
    out += minutes > 0 ? "+" : "-";
    out += PadNumber(magnitude / 60, 2);
    out += "'";
    out += PadNumber(magnitude % 60, 2);
    out += "'";
    return out;
}

std::string GetTypeOf(const TPdfDictionary& dictionary)
{
    const TPdfName* type = dictionary.LookupName("Type");
    return type != nullptr ? type->Value() : std::string();
}
