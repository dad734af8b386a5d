// The writer's text, name and real formatting, with the properties a reader relies on checked
// on every input: a literal string reads back as the text, a hex string is the byte order mark
// and the text's UTF-16 units, a name holds only regular characters and reads back, a real is a
// plain PDF number within half a hundredth of its value.
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "pdf/PdfTypes.h"
#include "platform/Services.h"
#include "platform/Stream.h"

namespace
{

void Require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string Written(const TPdfObject& object)
{
    TMemoryStream stream;
    object.WriteBody(stream);
    return stream.Bytes();
}

// Reads a literal string back as a PDF reader does; fails on an unescaped parenthesis or a
// line end, which some readers would change.
void CheckLiteral(const std::string& written, const std::string& text)
{
    Require(written.size() >= 2 && written.front() == '(' && written.back() == ')');
    std::string read;
    for (std::size_t i = 1; i + 1 < written.size(); ++i)
    {
        const char c = written[i];
        Require(c != '(' && c != ')' && c != '\r' && c != '\n');
        if (c != '\\')
        {
            read += c;
            continue;
        }
        Require(i + 2 < written.size());
        const char* from = "()\\rntbf";
        const char* to = "()\\\r\n\t\b\f";
        const char* at = std::strchr(from, written[++i]);
        Require(at != nullptr && *at != '\0');
        read += to[at - from];
    }
    Require(read == text);
}

// The byte order mark, then the text's UTF-16 units, high byte first.
void CheckHex(const std::string& written, const std::string& text)
{
    Require(written.size() >= 6 && written.front() == '<' && written.back() == '>');
    Require((written.size() - 2) % 4 == 0 && written.compare(1, 4, "FEFF") == 0);
    std::u16string units;
    for (std::size_t i = 5; i + 1 < written.size(); i += 4)
    {
        int unit = 0;
        for (std::size_t k = 0; k < 4; ++k)
        {
            const int digit = HexValue(written[i + k]);
            Require(digit >= 0);
            unit = unit * 16 + digit;
        }
        units.push_back(static_cast<char16_t>(unit));
    }
    Require(units == CodePage().ToUtf16(text));
}

void CheckName(const std::string& written, const std::string& text)
{
    Require(!written.empty() && written[0] == '/');
    std::string read;
    for (std::size_t i = 1; i < written.size(); ++i)
    {
        const auto c = static_cast<unsigned char>(written[i]);
        Require(c > 32 && c < 127 && std::strchr("%()/<>[]{}", c) == nullptr);
        if (c != '#')
        {
            read += static_cast<char>(c);
            continue;
        }
        Require(i + 2 < written.size() && HexValue(written[i + 1]) >= 0 &&
                HexValue(written[i + 2]) >= 0);
        read += static_cast<char>(HexValue(written[i + 1]) * 16 + HexValue(written[i + 2]));
        i += 2;
    }
    Require(read == text);
}

void CheckReal(double value)
{
    const std::string text = FormatReal(value);
    std::size_t i = text[0] == '-' ? 1 : 0;
    Require(i < text.size());
    bool point = false;
    for (; i < text.size(); ++i)
    {
        if (text[i] == '.' && !point)
            point = true;
        else if (text[i] < '0' || text[i] > '9')
            return Require(std::fabs(value) >= 1e15); // the exponent form, for huge values only
    }
    Require(text.back() != '.');
    if (!std::isfinite(value) || std::fabs(value) >= 1e13)
        return;
    // Half a hundredth, and the doubles' own spacing: 8438367552.125 is written 8438367552.13,
    // which reads back a millionth more than half a hundredth away.
    Require(std::fabs(std::strtod(text.c_str(), nullptr) - value) <=
            0.005 + 1e-9 + 4 * DBL_EPSILON * std::fabs(value));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (ICodePage* codePage : {&Windows1252CodePage(), &Utf8CodePage(), &ShiftJisCodePage()})
    {
        ICodePage* previous = SetCodePage(codePage);
        const std::string written = Written(TPdfText(text));
        if (written.front() == '<')
            CheckHex(written, text);
        else
            CheckLiteral(written, text);
        SetCodePage(previous);
    }
    CheckName(Written(TPdfName(text)), text);
    if (size >= sizeof(double))
    {
        double value = 0;
        std::memcpy(&value, data, sizeof value);
        CheckReal(value);
        Require(!Written(TPdfReal(value)).empty());
    }
    return 0;
}
