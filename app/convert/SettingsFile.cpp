#include "app/convert/SettingsFile.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The parsing below follows Qt 6's INI reader step by step (its line splitting, key and value
// unescaping and variant decoding), so a file reads here exactly as it does in the window,
// including files edited by hand.

namespace
{

constexpr std::size_t kNone = std::string_view::npos;

// Qt's character classes for splitting lines.
bool IsLineSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool IsLineSpecial(char c)
{
    return c == '\n' || c == '\r' || c == '"' || c == ';' || c == '=' || c == '\\';
}

bool IsAsciiSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && IsAsciiSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsAsciiSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

int HexDigit(char16_t c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Qt's UTF-8 decoding, invalid input included, since a hand-edited file must read as it does in
// the window: a byte that starts no valid sequence gives U+FFFD and decoding goes on at the next
// byte. The decoder of one value keeps an unfinished sequence for the value's next piece (the
// text after an escape or a quote), where a byte that does not continue it is lost with it;
// a byte order mark as the value's first character is dropped.
class TUtf8Decoder
{
public:
    void Decode(std::string_view in, std::u16string& out)
    {
        std::size_t src = 0;
        if (!m_pending.empty() || !m_started)
        {
            const std::string data =
                m_pending + std::string(in.substr(0, std::min(4 - m_pending.size(), in.size())));
            const int used = DecodeSequence(data, 0, out);
            if (used == kEnd)
            {
                m_pending = data;
                return;
            }
            if (used == kError)
            {
                out += u'\uFFFD';
                src = 1;
            }
            else
            {
                if (!m_started && out.back() == u'\uFEFF')
                    out.pop_back();
                src = static_cast<std::size_t>(used) - m_pending.size();
            }
            m_started = true;
            m_pending.clear();
        }
        while (src < in.size())
        {
            const int used = DecodeSequence(in, src, out);
            if (used == kEnd)
            {
                m_pending = in.substr(src);
                return;
            }
            if (used == kError)
            {
                out += u'\uFFFD';
                ++src;
            }
            else
                src += static_cast<std::size_t>(used);
        }
    }

    // Ends the text: an unfinished sequence gives one U+FFFD per byte.
    void Finish(std::u16string& out)
    {
        out.append(m_pending.size(), u'\uFFFD');
        m_pending.clear();
    }

private:
    static constexpr int kError = -1;
    static constexpr int kEnd = -2; // the sequence goes on past the input

    // One character from bytes[pos]: the bytes it used, kError or kEnd.
    static int DecodeSequence(std::string_view bytes, std::size_t pos, std::u16string& out)
    {
        const auto b = static_cast<unsigned char>(bytes[pos]);
        if (b < 0x80)
        {
            out += static_cast<char16_t>(b);
            return 1;
        }
        std::size_t need = 0;
        std::uint32_t least = 0;
        std::uint32_t code = 0;
        if (b <= 0xC1 || b >= 0xF5)
            return kError;
        if (b < 0xE0)
        {
            need = 2;
            least = 0x80;
            code = b & 0x1Fu;
        }
        else if (b < 0xF0)
        {
            need = 3;
            least = 0x800;
            code = b & 0x0Fu;
        }
        else
        {
            need = 4;
            least = 0x10000;
            code = b & 0x07u;
        }
        const auto continues = [&](std::size_t k) {
            return (static_cast<unsigned char>(bytes[pos + 1 + k]) & 0xC0) == 0x80;
        };
        const std::size_t available = bytes.size() - pos - 1;
        if (available < need - 1)
        {
            if ((available > 0 && !continues(0)) || (available > 1 && !continues(1)))
                return kError;
            return kEnd;
        }
        for (std::size_t k = 0; k + 1 < need; ++k)
        {
            if (!continues(k))
                return kError;
            code = code << 6 | (static_cast<unsigned char>(bytes[pos + 1 + k]) & 0x3Fu);
        }
        if (code < least || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
            return kError;
        if (code < 0x10000)
            out += static_cast<char16_t>(code);
        else
        {
            code -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (code >> 10));
            out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        }
        return static_cast<int>(need);
    }

    bool m_started = false;
    std::string m_pending;
};

std::u16string FromUtf8(std::string_view bytes)
{
    std::u16string text;
    TUtf8Decoder decoder;
    decoder.Decode(bytes, text);
    decoder.Finish(text);
    return text;
}

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string ToUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF)
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00u);
        else if (c >= 0xD800 && c <= 0xDFFF)
            c = 0xFFFD;
        if (c < 0x80)
            out += static_cast<char>(c);
        else if (c < 0x800)
        {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
        else if (c < 0x10000)
        {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
        else
        {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// One logical line: where it starts, how long it is, and its first '=' outside quotes (kNone if
// none). Quoted values and backslash-escaped line breaks span physical lines; an unquoted ';'
// ends the line, and a line starting with ';' is a comment.
struct TIniLine
{
    std::size_t Start = 0;
    std::size_t Length = 0;
    std::size_t Equals = kNone;
};

bool ReadIniLine(std::string_view data, std::size_t& pos, TIniLine& line)
{
    const std::size_t size = data.size();
    bool inQuotes = false;
    line.Equals = kNone;
    line.Start = pos;
    while (line.Start < size && IsLineSpace(data[line.Start]))
        ++line.Start;

    std::size_t i = line.Start;
    bool ended = false;
    while (i < size && !ended)
    {
        while (i < size && !IsLineSpecial(data[i]))
            ++i;
        if (i == size)
            break;
        const char ch = data[i++];
        if (ch == '=')
        {
            if (!inQuotes && line.Equals == kNone)
                line.Equals = i - 1;
        }
        else if (ch == '\n' || ch == '\r')
        {
            if (i == line.Start + 1)
                ++line.Start;
            else if (!inQuotes)
            {
                --i;
                ended = true;
            }
        }
        else if (ch == '\\')
        {
            if (i < size)
            {
                const char escaped = data[i++];
                if (i < size &&
                    ((escaped == '\n' && data[i] == '\r') || (escaped == '\r' && data[i] == '\n')))
                    ++i;
            }
        }
        else if (ch == '"')
            inQuotes = !inQuotes;
        else // ';'
        {
            if (i == line.Start + 1)
            {
                while (i < size && data[i] != '\n' && data[i] != '\r')
                    ++i;
                while (i < size && IsLineSpace(data[i]))
                    ++i;
                line.Start = i;
            }
            else if (!inQuotes)
            {
                --i;
                ended = true;
            }
        }
    }
    pos = i;
    line.Length = i - line.Start;
    return line.Length > 0;
}

// A key: '\' is the group separator '/', %XX and %UXXXX are characters.
std::string UnescapedKey(std::string_view key)
{
    const std::u16string decoded = FromUtf8(key);
    std::u16string result;
    std::size_t i = 0;
    while (i < decoded.size())
    {
        const char16_t ch = decoded[i];
        if (ch == u'\\')
        {
            result += u'/';
            ++i;
            continue;
        }
        if (ch != u'%' || i == decoded.size() - 1)
        {
            result += ch;
            ++i;
            continue;
        }
        std::size_t first = i + 1;
        std::size_t digits = 2;
        if (decoded[first] == u'U')
        {
            ++first;
            digits = 4;
        }
        unsigned value = 0;
        bool ok = first + digits <= decoded.size();
        for (std::size_t d = 0; ok && d < digits; ++d)
        {
            const int digit = HexDigit(decoded[first + d]);
            ok = digit >= 0;
            value = value * 16 + static_cast<unsigned>(digit);
        }
        if (!ok)
        {
            result += u'%';
            ++i;
            continue;
        }
        result += static_cast<char16_t>(value);
        i = first + digits;
    }
    return ToUtf8(result);
}

void ChopTrailingSpaces(std::u16string& text, std::size_t limit)
{
    while (text.size() > limit && (text.back() == u' ' || text.back() == u'\t'))
        text.pop_back();
}

char16_t SimpleEscape(char c)
{
    switch (c)
    {
    case 'a':
        return u'\a';
    case 'b':
        return u'\b';
    case 'f':
        return u'\f';
    case 'n':
        return u'\n';
    case 'r':
        return u'\r';
    case 't':
        return u'\t';
    case 'v':
        return u'\v';
    case '"':
    case '?':
    case '\'':
    case '\\':
        return static_cast<char16_t>(c);
    default:
        return 0;
    }
}

// A value: one text, or a list when commas stand outside quotes. Numeric escapes give one
// UTF-16 unit each, wrapping past 0xFFFF as Qt's do.
struct TUnescapedValue
{
    bool IsList = false;
    std::u16string Text;
    std::vector<std::u16string> List;
};

TUnescapedValue UnescapedValue(std::string_view str)
{
    TUnescapedValue value;
    std::u16string& text = value.Text;
    TUtf8Decoder decoder;
    bool inQuotes = false;
    bool quoted = false; // the current item had quotes: its trailing spaces stay
    std::size_t i = 0;
    const auto skipSpaces = [&] {
        while (i < str.size() && (str[i] == ' ' || str[i] == '\t'))
            ++i;
    };

    skipSpaces();
    std::size_t chopLimit = 0; // spaces that escapes produced are kept
    while (i < str.size())
    {
        const char ch = str[i];
        if (ch == '\\')
        {
            ++i;
            if (i >= str.size())
            {
                chopLimit = text.size(); // a lone '\\' at the end keeps the spaces before it
                break;
            }
            const char escaped = str[i++];
            if (const char16_t simple = SimpleEscape(escaped); simple != 0)
            {
                text += simple;
                chopLimit = text.size();
                continue;
            }
            if (escaped == 'x' || (escaped >= '0' && escaped <= '7'))
            {
                const bool hex = escaped == 'x';
                if (hex && (i >= str.size() || HexDigit(static_cast<char16_t>(str[i])) < 0))
                {
                    // "\x" without a digit: nothing, and the next character is read normally
                    chopLimit = text.size();
                    continue;
                }
                char16_t code = hex ? 0 : static_cast<char16_t>(escaped - '0');
                while (i < str.size())
                {
                    const int digit = HexDigit(static_cast<char16_t>(str[i]));
                    if (hex ? digit < 0 : (str[i] < '0' || str[i] > '7'))
                        break;
                    code = static_cast<char16_t>(code * (hex ? 16 : 8) + digit);
                    ++i;
                }
                text += code;
                chopLimit = text.size();
                continue;
            }
            if ((escaped == '\n' || escaped == '\r') && i < str.size() &&
                (str[i] == '\n' || str[i] == '\r') && str[i] != escaped)
                ++i;
            // any other escaped character is dropped
            chopLimit = text.size();
            continue;
        }
        if (ch == '"')
        {
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes)
            {
                skipSpaces();
                chopLimit = text.size();
            }
            continue;
        }
        if (ch == ',' && !inQuotes)
        {
            if (!quoted)
                ChopTrailingSpaces(text, chopLimit);
            value.IsList = true;
            value.List.push_back(std::move(text));
            text.clear();
            quoted = false;
            ++i;
            skipSpaces();
            chopLimit = 0;
            continue;
        }
        std::size_t j = i + 1;
        while (j < str.size() && str[j] != '\\' && str[j] != '"' && str[j] != ',')
            ++j;
        decoder.Decode(str.substr(i, j - i), text);
        i = j;
    }
    if (!quoted)
        ChopTrailingSpaces(text, chopLimit);
    if (value.IsList)
        value.List.push_back(std::move(text));
    return value;
}

bool StartsWith(std::u16string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (text[i] != static_cast<unsigned char>(prefix[i]))
            return false;
    return true;
}

// The variant a single text stands for.
TSettingsValue ValueFromText(std::u16string_view s)
{
    using TType = TSettingsValue::TType;
    if (StartsWith(s, "@"))
    {
        if (s.ends_with(u')'))
        {
            if (StartsWith(s, "@ByteArray("))
            {
                std::string bytes;
                for (const char16_t c : s.substr(11, s.size() - 12))
                    bytes += c <= 0xFF ? static_cast<char>(c) : '?';
                return {TType::Bytes, bytes};
            }
            if (StartsWith(s, "@String("))
                return {TType::Text, ToUtf8(s.substr(8, s.size() - 9))};
            if (StartsWith(s, "@Variant("))
                return {TType::Other, "Variant"};
            if (StartsWith(s, "@DateTime("))
                return {TType::Other, "DateTime"};
            // Geometry with the wrong number of numbers is left a text.
            const auto arguments = [&](std::size_t open) {
                return std::count_if(s.begin() + static_cast<std::ptrdiff_t>(open) + 1, s.end(),
                                     [](char16_t c) { return c == u' ' || c == u')'; });
            };
            if (StartsWith(s, "@Rect(") && arguments(5) == 4)
                return {TType::Other, "Rect"};
            if (StartsWith(s, "@Size(") && arguments(5) == 2)
                return {TType::Other, "Size"};
            if (StartsWith(s, "@Point(") && arguments(6) == 2)
                return {TType::Other, "Point"};
            if (s == u"@Invalid()")
                return {TType::Invalid, {}};
        }
        if (StartsWith(s, "@@"))
            return {TType::Text, ToUtf8(s.substr(1))};
    }
    return {TType::Text, ToUtf8(s)};
}

bool IsGeneralSection(std::string_view name)
{
    constexpr std::string_view kGeneral = "general";
    if (name.size() != kGeneral.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if ((name[i] >= 'A' && name[i] <= 'Z' ? name[i] - 'A' + 'a' : name[i]) != kGeneral[i])
            return false;
    return true;
}

const char* TypeDescription(TSettingsValue::TType type)
{
    switch (type)
    {
    case TSettingsValue::TType::Bytes:
        return "a byte array";
    case TSettingsValue::TType::TextList:
        return "a list";
    default:
        return "a value";
    }
}

// A text value: nothing when missing (or empty-variant), ESettingsError when of another type.
std::optional<std::string> ReadText(const TSettingsValues& values, const char* name)
{
    const auto found = values.find(name);
    if (found == values.end() || found->second.Type == TSettingsValue::TType::Invalid)
        return std::nullopt;
    const TSettingsValue& value = found->second;
    if (value.Type == TSettingsValue::TType::Text)
        return value.Data;
    std::string held = TypeDescription(value.Type);
    if (value.Type == TSettingsValue::TType::Other)
        held += " of type " + value.Data;
    throw ESettingsError("the value \"" + std::string(name) + "\" holds " + held + ", not a text");
}

// A date-time value: 8 bytes holding a date from year 1 to 9999, else now.
TDateTime ReadDateTime(const TSettingsValues& values, const char* name, TDateTime now)
{
    const auto found = values.find(name);
    if (found == values.end() || found->second.Type != TSettingsValue::TType::Bytes ||
        found->second.Data.size() != 8)
        return now;
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < 8; ++i)
        bits |= std::uint64_t{static_cast<unsigned char>(found->second.Data[i])} << (8 * i);
    double value = 0;
    static_assert(sizeof value == sizeof bits);
    std::memcpy(&value, &bits, sizeof value);
    // 1 January of year 1 is day -693593, 1 January 10000 day 2958466; before 1899 the fraction
    // counts forward from the (negative) whole day, so day -693593 runs to -693593.999...
    if (!std::isfinite(value) || value <= -693594.0 || value >= 2958466.0)
        return now;
    return value;
}

} // namespace

TSettingsValues ParseSettingsText(std::string_view data)
{
    if (data.starts_with("\xEF\xBB\xBF"))
        data.remove_prefix(3);
    TSettingsValues values;
    bool topLevel = true; // lines before any section header belong to [General]
    std::size_t pos = 0;
    TIniLine line;
    while (ReadIniLine(data, pos, line))
    {
        const std::string_view text = data.substr(line.Start, line.Length);
        if (text.front() == '[')
        {
            const std::size_t close = text.find(']');
            topLevel = IsGeneralSection(
                Trimmed(close == kNone ? text.substr(1) : text.substr(1, close - 1)));
            continue;
        }
        if (!topLevel || line.Equals == kNone)
            continue;
        const std::size_t equals = line.Equals - line.Start;
        std::string key = UnescapedKey(Trimmed(text.substr(0, equals)));
        if (key.empty() || key.find('/') != std::string::npos)
            continue; // no name, or in a group
        TUnescapedValue value = UnescapedValue(text.substr(equals + 1));
        if (value.IsList)
        {
            // Only its type matters here; the items are kept one a line for tests.
            std::string joined;
            for (std::size_t i = 0; i < value.List.size(); ++i)
                joined += (i == 0 ? "" : "\n") + ValueFromText(value.List[i]).Data;
            values[key] = {TSettingsValue::TType::TextList, joined};
        }
        else
            values[key] = ValueFromText(value.Text);
    }
    return values;
}

void LoadSavedSettings(const TSettingsValues& values, TDateTime now, TSavedSettings& settings)
{
    settings.Title = ReadText(values, kSettingTitle).value_or("");
    settings.Author = ReadText(values, kSettingAuthor).value_or("");
    settings.Subject = ReadText(values, kSettingSubject).value_or("");
    settings.Keywords = ReadText(values, kSettingKeywords).value_or("");
    settings.Created = ReadDateTime(values, kSettingCreated, now);
    settings.Modified = ReadDateTime(values, kSettingModified, now);
    if (std::optional<std::string> creator = ReadText(values, kSettingCreator))
        settings.Creator = std::move(*creator);
    if (std::optional<std::string> producer = ReadText(values, kSettingProducer))
        settings.Producer = std::move(*producer);
    settings.Quality = QualityFromText(ReadText(values, kSettingQuality).value_or(""));
}

std::string DateTimeToSettingBytes(TDateTime value)
{
    std::uint64_t bits = 0;
    static_assert(sizeof value == sizeof bits);
    std::memcpy(&bits, &value, sizeof bits);
    std::string bytes(8, '\0');
    for (char& byte : bytes)
    {
        byte = static_cast<char>(bits & 0xFF);
        bits >>= 8;
    }
    return bytes;
}

int QualityFromText(std::string_view text)
{
    text = Trimmed(text);
    std::string_view digits = text;
    const bool negative = digits.starts_with('-');
    if (negative || digits.starts_with('+'))
        digits.remove_prefix(1);
    long long value = 0;
    const char* end = digits.data() + digits.size();
    const auto [ptr, ec] = std::from_chars(digits.data(), end, value);
    if (digits.empty() || digits.front() == '-' || ec != std::errc() || ptr != end)
        return 60;
    value = negative ? -value : value;
    // Only what an int holds is a number at all; the rest is as unreadable as "abc".
    if (value < INT32_MIN || value > INT32_MAX)
        return 60;
    return static_cast<int>(value < 1 ? 1 : value > 100 ? 100 : value);
}

std::string SettingsFilePath()
{
    std::string folder;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config != '\0')
        folder = config;
    else
    {
        const char* home = std::getenv("HOME");
        folder = home != nullptr && *home != '\0' ? home : "/";
        while (folder.size() > 1 && folder.back() == '/')
            folder.pop_back();
        folder += folder == "/" ? ".config" : "/.config";
    }
    return folder + "/kestrom/pictova.conf";
}

TSavedSettings ReadSettingsFile(const std::string& path, TDateTime now)
{
    TSavedSettings settings;
    settings.Created = settings.Modified = now;

    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && (errno == ENOENT || errno == ENOTDIR))
        return settings;
    const auto fail = [&](const std::string& reason) -> TSavedSettings {
        throw EFileError("cannot read the settings file " + path + ": " + reason);
    };
    if (fd < 0)
        return fail(std::strerror(errno));
    struct Closer
    {
        int Fd;
        ~Closer() { close(Fd); }
    } closer{fd};

    // Far above anything the window writes; a larger file is not a settings file.
    constexpr std::size_t kLimit = std::size_t{16} * 1024 * 1024;
    std::string text;
    char buffer[65536];
    for (;;)
    {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return fail(std::strerror(errno));
        if (got == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.size() > kLimit)
            return fail("larger than 16 MiB");
    }
    try
    {
        LoadSavedSettings(ParseSettingsText(text), now, settings);
    }
    catch (const ESettingsError& e)
    {
        throw ESettingsError(path + ": " + e.what());
    }
    return settings;
}
