#include <array>
#include <cerrno>
#include <cstdint>
#include <string>

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <strings.h>

#include "platform/ByteOrder.h"
#include "platform/Services.h"

namespace
{

constexpr char16_t kReplacement = 0xFFFD;

// Windows-1252, bytes 0x80..0x9F. The five bytes the code page leaves undefined (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) map to their C1 control code points, so every byte survives a round trip.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool IsHighSurrogate(char16_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(char16_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

class TWindows1252CodePage : public ICodePage
{
public:
    std::string Name() const override { return "Windows-1252"; }
    bool IsMultiByte() const override { return false; }
    bool HasMultiByteChar(std::string_view) const override { return false; }

    std::u16string ToUtf16(std::string_view text) const override
    {
        std::u16string result;
        result.reserve(text.size());
        for (const char c : text)
        {
            const auto byte = static_cast<unsigned char>(c);
            result.push_back(byte >= 0x80 && byte <= 0x9F ? kCp1252High[byte - 0x80]
                                                          : static_cast<char16_t>(byte));
        }
        return result;
    }

    std::string FromUtf16(std::u16string_view text) const override
    {
        std::string result;
        result.reserve(text.size());
        for (std::size_t i = 0; i < text.size(); ++i)
        {
            const char16_t unit = text[i];
            if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]))
            {
                ++i; // one character outside the code page: one '?'
                result.push_back('?');
                continue;
            }
            result.push_back(static_cast<char>(Encode(unit)));
        }
        return result;
    }

private:
    static unsigned char Encode(char16_t unit)
    {
        if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
        {
            return static_cast<unsigned char>(unit);
        }
        for (std::size_t i = 0; i < kCp1252High.size(); ++i)
        {
            if (kCp1252High[i] == unit)
            {
                return static_cast<unsigned char>(0x80 + i);
            }
        }
        return '?';
    }
};

class TUtf8CodePage : public ICodePage
{
public:
    std::string Name() const override { return "UTF-8"; }
    bool IsMultiByte() const override { return true; }

    // Every non-ASCII byte is a lead or trail byte of some sequence.
    bool HasMultiByteChar(std::string_view text) const override
    {
        for (const char c : text)
        {
            if (static_cast<unsigned char>(c) >= 0x80)
            {
                return true;
            }
        }
        return false;
    }

    std::u16string ToUtf16(std::string_view text) const override
    {
        std::u16string result;
        result.reserve(text.size());
        std::size_t i = 0;
        while (i < text.size())
        {
            const auto lead = static_cast<unsigned char>(text[i]);
            if (lead < 0x80)
            {
                result.push_back(lead);
                ++i;
                continue;
            }
            int length = 0;
            char32_t code = 0;
            char32_t minimum = 0;
            if (lead >= 0xC2 && lead <= 0xDF)
            {
                length = 2;
                code = lead & 0x1Fu;
                minimum = 0x80;
            }
            else if (lead >= 0xE0 && lead <= 0xEF)
            {
                length = 3;
                code = lead & 0x0Fu;
                minimum = 0x800;
            }
            else if (lead >= 0xF0 && lead <= 0xF4)
            {
                length = 4;
                code = lead & 0x07u;
                minimum = 0x10000;
            }
            // Decode the trail bytes; a sequence that breaks off becomes one U+FFFD and decoding
            // resumes at the byte that broke it.
            int taken = 1;
            bool valid = length > 0;
            while (valid && taken < length)
            {
                if (i + static_cast<std::size_t>(taken) >= text.size())
                {
                    valid = false;
                    break;
                }
                const auto trail =
                    static_cast<unsigned char>(text[i + static_cast<std::size_t>(taken)]);
                if ((trail & 0xC0u) != 0x80u)
                {
                    valid = false;
                    break;
                }
                code = (code << 6) | (trail & 0x3Fu);
                ++taken;
            }
            if (valid && (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)))
            {
                valid = false; // overlong form, beyond Unicode or an encoded surrogate
            }
            if (!valid)
            {
                result.push_back(kReplacement);
                i += static_cast<std::size_t>(taken);
                continue;
            }
            AppendCodePoint(result, code);
            i += static_cast<std::size_t>(length);
        }
        return result;
    }

    std::string FromUtf16(std::u16string_view text) const override
    {
        std::string result;
        result.reserve(text.size());
        for (std::size_t i = 0; i < text.size(); ++i)
        {
            char32_t code = text[i];
            if (IsHighSurrogate(text[i]))
            {
                if (i + 1 < text.size() && IsLowSurrogate(text[i + 1]))
                {
                    code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
                    ++i;
                }
                else
                {
                    result.push_back('?');
                    continue;
                }
            }
            else if (IsLowSurrogate(text[i]))
            {
                result.push_back('?');
                continue;
            }
            AppendUtf8(result, code);
        }
        return result;
    }

private:
    static void AppendCodePoint(std::u16string& out, char32_t code)
    {
        if (code < 0x10000)
        {
            out.push_back(static_cast<char16_t>(code));
            return;
        }
        code -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    }

    static void AppendUtf8(std::string& out, char32_t code)
    {
        auto put = [&out](char32_t byte) { out.push_back(static_cast<char>(byte)); };
        if (code < 0x80)
        {
            put(code);
        }
        else if (code < 0x800)
        {
            put(0xC0 | (code >> 6));
            put(0x80 | (code & 0x3F));
        }
        else if (code < 0x10000)
        {
            put(0xE0 | (code >> 12));
            put(0x80 | ((code >> 6) & 0x3F));
            put(0x80 | (code & 0x3F));
        }
        else
        {
            put(0xF0 | (code >> 18));
            put(0x80 | ((code >> 12) & 0x3F));
            put(0x80 | ((code >> 6) & 0x3F));
            put(0x80 | (code & 0x3F));
        }
    }
};

// An iconv descriptor that is closed on every path.
class TIconv
{
public:
    TIconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~TIconv()
    {
        if (Valid())
        {
            iconv_close(m_cd);
        }
    }
    TIconv(const TIconv&) = delete;
    TIconv& operator=(const TIconv&) = delete;

    // iconv_open's failure value is (iconv_t)-1: the cast is its own.
    bool Valid() const
    {
        // NOLINTNEXTLINE(performance-no-int-to-ptr)
        return m_cd != reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1));
    }

    // Converts as much as it can: stops at a byte it cannot convert (errno EILSEQ), at an
    // incomplete sequence at the end (EINVAL), or when the input is used up (returns true).
    bool Convert(const char*& in, std::size_t& inLeft, std::string& out)
    {
        char chunk[1024];
        for (;;)
        {
            char* inPtr = const_cast<char*>(in);
            char* outPtr = chunk;
            std::size_t outLeft = sizeof chunk;
            const std::size_t rc = iconv(m_cd, &inPtr, &inLeft, &outPtr, &outLeft);
            out.append(chunk, static_cast<std::size_t>(outPtr - chunk));
            in = inPtr;
            if (rc != static_cast<std::size_t>(-1))
            {
                return true;
            }
            if (errno != E2BIG)
            {
                return false;
            }
        }
    }

private:
    iconv_t m_cd;
};

// Shift-JIS as Windows extends it (code page 932).
class TShiftJisCodePage : public ICodePage
{
public:
    std::string Name() const override { return "Shift-JIS"; }
    bool IsMultiByte() const override { return true; }

    // A lead byte and whatever byte follows it form one double-byte character; a lone lead byte
    // at the end still counts, since it can only belong to a broken double-byte character.
    bool HasMultiByteChar(std::string_view text) const override
    {
        for (const char c : text)
        {
            if (IsLeadByte(static_cast<unsigned char>(c)))
            {
                return true;
            }
        }
        return false;
    }

    std::u16string ToUtf16(std::string_view text) const override
    {
        std::u16string result;
        TIconv cd("UTF-16LE", "CP932");
        if (!cd.Valid())
        {
            for (const char c : text)
            {
                const auto byte = static_cast<unsigned char>(c);
                result.push_back(byte < 0x80 ? byte : kReplacement);
            }
            return result;
        }
        std::string bytes;
        const char* in = text.data();
        std::size_t left = text.size();
        while (left > 0)
        {
            if (cd.Convert(in, left, bytes))
            {
                break;
            }
            AppendLe(bytes, kReplacement);
            if (errno == EINVAL)
            {
                break; // a lead byte at the very end
            }
            // Skip the character that cannot be converted: both bytes of a double-byte one.
            const auto byte = static_cast<unsigned char>(*in);
            const std::size_t skip =
                IsLeadByte(byte) && left >= 2 && IsTrailByte(static_cast<unsigned char>(in[1])) ? 2
                                                                                                : 1;
            in += skip;
            left -= skip;
        }
        result.reserve(bytes.size() / 2);
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        {
            result.push_back(static_cast<char16_t>(ReadLe16(bytes, i)));
        }
        return result;
    }

    std::string FromUtf16(std::u16string_view text) const override
    {
        std::string result;
        TIconv cd("CP932", "UTF-16LE");
        std::string units;
        units.reserve(text.size() * 2);
        for (const char16_t unit : text)
        {
            AppendLe(units, unit);
        }
        if (!cd.Valid())
        {
            for (const char16_t unit : text)
            {
                result.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
            }
            return result;
        }
        const char* in = units.data();
        std::size_t left = units.size();
        while (left > 0)
        {
            if (cd.Convert(in, left, result))
            {
                break;
            }
            result.push_back('?');
            if (errno == EINVAL)
            {
                break; // a high surrogate at the very end
            }
            const auto unit = static_cast<char16_t>(static_cast<unsigned char>(in[0]) |
                                                    (static_cast<unsigned char>(in[1]) << 8));
            const std::size_t skip = IsHighSurrogate(unit) && left >= 4 ? 4 : 2;
            in += skip;
            left -= skip;
        }
        return result;
    }

private:
    static bool IsLeadByte(unsigned char byte)
    {
        return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    }

    static bool IsTrailByte(unsigned char byte)
    {
        return (byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFC);
    }

    static void AppendLe(std::string& out, char16_t unit)
    {
        out.push_back(static_cast<char>(unit & 0xFF));
        out.push_back(static_cast<char>(unit >> 8));
    }
};

} // namespace

ICodePage& Windows1252CodePage()
{
    static TWindows1252CodePage codePage;
    return codePage;
}

ICodePage& Utf8CodePage()
{
    static TUtf8CodePage codePage;
    return codePage;
}

ICodePage& ShiftJisCodePage()
{
    static TShiftJisCodePage codePage;
    return codePage;
}

ICodePage& SelectCodePageFromLocale()
{
    setlocale(LC_ALL, "");
    const char* codeset = nl_langinfo(CODESET);
    ICodePage* selected = &Utf8CodePage();
    if (codeset != nullptr &&
        (strcasecmp(codeset, "ISO-8859-1") == 0 || strcasecmp(codeset, "ISO-8859-15") == 0 ||
         strcasecmp(codeset, "CP1252") == 0))
    {
        selected = &Windows1252CodePage();
    }
    SetCodePage(selected);
    return *selected;
}
