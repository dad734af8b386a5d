#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/DateTime.h"

// Process-wide services that the writer and the report read. Each is an interface with a real
// implementation installed by default; SetX installs another (borrowed, must outlive its use) and
// returns the previous one, so tests swap in fakes through scoped guards. SetX(nullptr) restores
// the real one.

class IClock
{
public:
    virtual ~IClock() = default;
    // The current local date and time.
    virtual TDateTime Now() const = 0;
};

class ITimeZone
{
public:
    virtual ~ITimeZone() = default;
    // Local time minus UTC, in seconds, in force at the given local date-time (daylight saving
    // included). For times that occur twice or not at all either neighbouring offset may come back.
    virtual long UtcOffsetSeconds(const TDateTimeParts& local) const = 0;
};

// The system's narrow code page: texts are byte strings in it everywhere below the GUI.
class ICodePage
{
public:
    virtual ~ICodePage() = default;
    virtual std::string Name() const = 0;
    // True for a multi-byte code page (UTF-8, Shift-JIS), false for a single-byte one.
    virtual bool IsMultiByte() const = 0;
    // True when the code page is multi-byte and some byte of text is a lead or trail byte.
    virtual bool HasMultiByteChar(std::string_view text) const = 0;
    // Text in this code page to UTF-16 code units; invalid input becomes U+FFFD.
    virtual std::u16string ToUtf16(std::string_view text) const = 0;
    // UTF-16 to this code page; characters it cannot hold become '?'.
    virtual std::string FromUtf16(std::u16string_view text) const = 0;
};

class IRandom
{
public:
    virtual ~IRandom() = default;
    virtual void Seed(std::uint32_t seed) = 0;
    // Seeds from the clock.
    virtual void Randomize() = 0;
    // A pseudo-random integer in 0 .. range-1 (0 when range <= 0).
    virtual std::int32_t Next(std::int32_t range) = 0;
};

IClock& Clock();
IClock* SetClock(IClock* clock);

ITimeZone& TimeZone();
ITimeZone* SetTimeZone(ITimeZone* zone);

ICodePage& CodePage();
ICodePage* SetCodePage(ICodePage* codePage);

IRandom& Random();
IRandom* SetRandom(IRandom* random);

// The code pages we provide. Windows-1252 is single-byte; UTF-8 and Shift-JIS (CP932) are
// multi-byte.
ICodePage& Windows1252CodePage();
ICodePage& Utf8CodePage();
ICodePage& ShiftJisCodePage();

// Calls setlocale(LC_ALL, "") and installs the narrow code page that the locale's codeset
// selects: ISO-8859-1, ISO-8859-15 and CP1252 select Windows-1252, anything else UTF-8.
// Returns the installed code page.
ICodePage& SelectCodePageFromLocale();
