// The command line as the converter parses it: the input split at NUL bytes into arguments,
// then every text argument converted from UTF-8 into the writer's code pages.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/CliArguments.h"
#include "platform/Services.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> words(1, "pictova-cli");
    words.emplace_back();
    for (std::size_t i = 0; i < size && words.size() < 200; ++i)
    {
        if (data[i] == 0)
            words.emplace_back();
        else
            words.back().push_back(static_cast<char>(data[i]));
    }
    std::vector<const char*> argv;
    for (const std::string& word : words)
        argv.push_back(word.c_str());
    argv.push_back(nullptr);
    const TParseResult parsed = ParseCliArguments(static_cast<int>(words.size()), argv.data());
    // An accepted quality is always within 1..100; none given is none (an empty optional
    // compares below 1, which made every command line without -q a false finding).
    const std::optional<int>& quality = parsed.Arguments.Quality;
    if (parsed.Error.empty() && quality.has_value() && (*quality < 1 || *quality > 100))
        __builtin_trap();
    for (const std::string& word : words)
    {
        ParseLocalDateTime(word);
        for (ICodePage* codePage : {&Windows1252CodePage(), &Utf8CodePage(), &ShiftJisCodePage()})
            ToNarrowCodePage(word, "UTF-8", *codePage);
    }
    return 0;
}
