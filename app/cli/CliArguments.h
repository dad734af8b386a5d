#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DateTime.h"

class ICodePage;

// What the command line asks for, before any file is looked at.

struct TPictureSource
{
    bool IsFolder = false; // --folder DIR, else a picture named on the command line
    std::string Path;      // bytes as given
};

struct TCliArguments
{
    bool ShowHelp = false;
    bool ShowVersion = false;
    bool Quiet = false;
    bool UseSettings = false;            // --settings: start from the window's saved settings
    std::string Output;                  // empty when -o was not given
    int Jobs = 0;                        // pictures prepared at once; 0: the number of cores
    std::vector<TPictureSource> Sources; // in command-line order
    // The quality and the document properties when given (texts still in the locale's codeset);
    // the others come from the saved settings or the defaults (60, "Kestrom Pictova" for creator
    // and producer, now for the dates, empty texts).
    std::optional<int> Quality;
    std::optional<std::string> Title;
    std::optional<std::string> Author;
    std::optional<std::string> Subject;
    std::optional<std::string> Keywords;
    std::optional<std::string> Creator;
    std::optional<std::string> Producer;
    std::optional<TDateTime> Created;
    std::optional<TDateTime> Modified;
};

struct TParseResult
{
    TCliArguments Arguments;
    std::string Error; // a usage error, empty when the command line is sound
};

// Parses argv[1..argc-1]. Options and picture names may be mixed; "--" ends the options.
// Long options take "--name VALUE" or "--name=VALUE", short ones "-o VALUE" or "-oVALUE".
// Help and version are answered as soon as they are met, whatever follows.
TParseResult ParseCliArguments(int argc, const char* const* argv);

// "YYYY-MM-DD", "YYYY-MM-DDTHH:MM" or "YYYY-MM-DDTHH:MM:SS", a local date-time; nothing when the
// text is not one of these or names no real day or time.
std::optional<TDateTime> ParseLocalDateTime(std::string_view text);

// Converts a text argument from the locale's codeset into the narrow code page that the writer
// reads. Nothing changes when both are the same, or when the codeset is plain ASCII (the C
// locale), where bytes are passed through as they are. Characters the code page cannot hold
// become '?', bytes that are invalid in the codeset U+FFFD (or '?').
std::string ToNarrowCodePage(std::string_view text, const std::string& codeset,
                             const ICodePage& codePage);

// The usage text that -h prints.
std::string UsageText();
