#include "app/cli/CliArguments.h"

#include <array>
#include <cerrno>
#include <charconv>

#include <iconv.h>

#include "platform/DateTime.h"
#include "platform/Services.h"

namespace
{

// Long options that take a value, and the field each one fills.
enum class TValueOption
{
    Output,
    Quality,
    Title,
    Author,
    Subject,
    Keywords,
    Creator,
    Producer,
    Created,
    Modified,
    Folder,
    Jobs
};

struct TLongOption
{
    std::string_view Name;
    TValueOption Option;
};

constexpr std::array kValueOptions = {
    TLongOption{"output", TValueOption::Output},   TLongOption{"quality", TValueOption::Quality},
    TLongOption{"title", TValueOption::Title},     TLongOption{"author", TValueOption::Author},
    TLongOption{"subject", TValueOption::Subject}, TLongOption{"keywords", TValueOption::Keywords},
    TLongOption{"creator", TValueOption::Creator}, TLongOption{"producer", TValueOption::Producer},
    TLongOption{"created", TValueOption::Created}, TLongOption{"modified", TValueOption::Modified},
    TLongOption{"folder", TValueOption::Folder},   TLongOption{"jobs", TValueOption::Jobs},
};

bool ParseWholeNumber(std::string_view text, int& value)
{
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty();
}

// Applies one option's value; returns a usage error or "".
std::string Apply(TCliArguments& arguments, TValueOption option, std::string_view name,
                  std::string_view value)
{
    switch (option)
    {
    case TValueOption::Output:
        if (value.empty())
            return "the output file name is empty";
        arguments.Output = value;
        break;
    case TValueOption::Quality:
    {
        int quality = 0;
        if (!ParseWholeNumber(value, quality) || quality < 1 || quality > 100)
            return "invalid quality '" + std::string(value) +
                   "': give a whole number from 1 to 100";
        arguments.Quality = quality;
        break;
    }
    case TValueOption::Title:
        arguments.Title = value;
        break;
    case TValueOption::Author:
        arguments.Author = value;
        break;
    case TValueOption::Subject:
        arguments.Subject = value;
        break;
    case TValueOption::Keywords:
        arguments.Keywords = value;
        break;
    case TValueOption::Creator:
        arguments.Creator = value;
        break;
    case TValueOption::Producer:
        arguments.Producer = value;
        break;
    case TValueOption::Created:
    case TValueOption::Modified:
    {
        const std::optional<TDateTime> when = ParseLocalDateTime(value);
        if (!when)
            return "invalid date-time for --" + std::string(name) + " '" + std::string(value) +
                   "': give YYYY-MM-DD, YYYY-MM-DDTHH:MM or YYYY-MM-DDTHH:MM:SS";
        (option == TValueOption::Created ? arguments.Created : arguments.Modified) = when;
        break;
    }
    case TValueOption::Folder:
        arguments.Sources.push_back({true, std::string(value)});
        break;
    case TValueOption::Jobs:
        if (!ParseWholeNumber(value, arguments.Jobs) || arguments.Jobs < 1 || arguments.Jobs > 256)
            return "invalid number of jobs '" + std::string(value) +
                   "': give a whole number from 1 to 256";
        break;
    }
    return {};
}

// Reads exactly count digits at text[pos].
bool ReadDigits(std::string_view text, std::size_t pos, std::size_t count, int& value)
{
    if (pos + count > text.size())
        return false;
    value = 0;
    for (std::size_t i = pos; i < pos + count; ++i)
    {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

std::string NormalisedCodeset(std::string_view name)
{
    std::string normal;
    for (const char c : name)
    {
        if (c == '-' || c == '_')
            continue;
        normal += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return normal;
}

// The iconv name of one of our code pages.
const char* IconvName(const ICodePage& codePage)
{
    if (&codePage == &Windows1252CodePage())
        return "CP1252";
    if (&codePage == &ShiftJisCodePage())
        return "CP932";
    return "UTF-8";
}

struct IconvCloser
{
    iconv_t Handle;
    ~IconvCloser() { iconv_close(Handle); }
};

} // namespace

TParseResult ParseCliArguments(int argc, const char* const* argv)
{
    TParseResult result;
    TCliArguments& arguments = result.Arguments;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i)
    {
        const std::string_view arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-')
        {
            arguments.Sources.push_back({false, std::string(arg)});
            continue;
        }
        if (arg == "--")
        {
            optionsEnded = true;
            continue;
        }
        if (arg == "-h" || arg == "--help")
        {
            arguments.ShowHelp = true;
            return result;
        }
        if (arg == "--version")
        {
            arguments.ShowVersion = true;
            return result;
        }
        if (arg == "--quiet")
        {
            arguments.Quiet = true;
            continue;
        }
        if (arg == "--settings")
        {
            arguments.UseSettings = true;
            continue;
        }

        // An option with a value: find which, and where its value is.
        std::optional<TValueOption> option;
        std::string_view name;
        std::optional<std::string_view> inlineValue;
        if (arg.substr(0, 2) == "--")
        {
            name = arg.substr(2);
            if (const std::size_t eq = name.find('='); eq != std::string_view::npos)
            {
                inlineValue = name.substr(eq + 1);
                name = name.substr(0, eq);
            }
            for (const TLongOption& known : kValueOptions)
                if (known.Name == name)
                    option = known.Option;
        }
        else if (arg[1] == 'o' || arg[1] == 'q' || arg[1] == 'j')
        {
            option = arg[1] == 'o'   ? TValueOption::Output
                     : arg[1] == 'q' ? TValueOption::Quality
                                     : TValueOption::Jobs;
            name = arg[1] == 'o' ? "output" : arg[1] == 'q' ? "quality" : "jobs";
            if (arg.size() > 2)
                inlineValue = arg.substr(2);
        }
        if (!option)
        {
            result.Error = "unrecognized option '" + std::string(arg) + "'";
            return result;
        }
        std::string_view value;
        if (inlineValue)
            value = *inlineValue;
        else if (i + 1 < argc)
            value = argv[++i];
        else
        {
            result.Error = "option '" + std::string(arg) + "' needs a value";
            return result;
        }
        if (std::string error = Apply(arguments, *option, name, value); !error.empty())
        {
            result.Error = std::move(error);
            return result;
        }
    }
    return result;
}

std::optional<TDateTime> ParseLocalDateTime(std::string_view text)
{
    TDateTimeParts parts;
    if (!ReadDigits(text, 0, 4, parts.Year) || text.size() < 10 || text[4] != '-' ||
        !ReadDigits(text, 5, 2, parts.Month) || text[7] != '-' ||
        !ReadDigits(text, 8, 2, parts.Day))
        return std::nullopt;
    parts.Hour = 0;
    parts.Minute = 0;
    parts.Second = 0;
    if (text.size() > 10)
    {
        if (text.size() < 16 || text[10] != 'T' || !ReadDigits(text, 11, 2, parts.Hour) ||
            text[13] != ':' || !ReadDigits(text, 14, 2, parts.Minute))
            return std::nullopt;
        if (text.size() > 16 &&
            (text.size() != 19 || text[16] != ':' || !ReadDigits(text, 17, 2, parts.Second)))
            return std::nullopt;
    }
    if (parts.Year < 1 || parts.Month < 1 || parts.Month > 12 || parts.Day < 1 ||
        parts.Day > DaysInMonth(parts.Year, parts.Month) || parts.Hour > 23 || parts.Minute > 59 ||
        parts.Second > 59)
        return std::nullopt;
    return EncodeDateTime(parts);
}

std::string ToNarrowCodePage(std::string_view text, const std::string& codeset,
                             const ICodePage& codePage)
{
    const char* target = IconvName(codePage);
    const std::string from = NormalisedCodeset(codeset);
    if (text.empty() || from.empty() || from == NormalisedCodeset(target) ||
        from == "ANSIX3.41968" || from == "ASCII")
        return std::string(text);

    // Through UTF-16, so the code page's own rules decide what it cannot hold.
    const iconv_t handle = iconv_open("UTF-16LE", codeset.c_str());
    if (handle == reinterpret_cast<iconv_t>(-1)) // NOLINT(performance-no-int-to-ptr): iconv's own
        return std::string(text);                // a codeset iconv does not know: pass the bytes on
    const IconvCloser closer{handle};

    std::u16string utf16;
    std::string input(text);
    char* in = input.data();
    std::size_t inLeft = input.size();
    std::array<char, 1024> buffer{};
    while (inLeft > 0)
    {
        char* out = buffer.data();
        std::size_t outLeft = buffer.size();
        const std::size_t done = iconv(handle, &in, &inLeft, &out, &outLeft);
        const int error = errno;
        for (const char* p = buffer.data(); p + 1 < out; p += 2)
            utf16 += static_cast<char16_t>(static_cast<unsigned char>(p[0]) |
                                           static_cast<unsigned char>(p[1]) << 8);
        if (done != static_cast<std::size_t>(-1))
            continue;
        if (error == E2BIG)
            continue;
        // An invalid or cut-off sequence: one replacement character for its first byte.
        utf16 += u'\uFFFD';
        ++in;
        --inLeft;
    }
    return codePage.FromUtf16(utf16);
}

std::string UsageText()
{
    return "pictova-cli [options] PICTURE... -o OUTPUT.pdf\n"
           "  -o, --output FILE      the PDF to write (required); replaced only when the run "
           "succeeds\n"
           "  -q, --quality N        JPEG quality 1..100 (default 60)\n"
           "      --title, --author, --subject, --keywords, --creator, --producer TEXT\n"
           "                         document properties (creator and producer default to "
           "\"Kestrom Pictova\")\n"
           "      --created, --modified YYYY-MM-DD[THH:MM[:SS]]   local date-times (default: "
           "now)\n"
           "      --folder DIR       add the pictures of a folder, as the window's Add folder "
           "does (repeatable)\n"
           "  -j, --jobs N           pictures prepared at once (default: the number of cores)\n"
           "      --quiet            no progress output\n"
           "  -h, --help             usage;  --version  the version\n"
           "      --settings         start from the settings saved in the window (Save setting);\n"
           "                         the options given still win\n"
           "\n"
           "Turns pictures (GIF, PNG, JPEG, BMP, ICO, EMF, WMF, TIFF) into one PDF with one page\n"
           "per picture, each page exactly as large as its picture.\n"
           "Pictures are added in the order given; a folder adds its files with an accepted\n"
           "extension (not its sub-folders) in name order. Ctrl+C cancels after the current\n"
           "picture and writes nothing; a second Ctrl+C stops at once.\n"
           "Exit status: 0 the PDF was written, 1 the conversion failed, 2 usage error,\n"
           "130 cancelled.\n";
}
