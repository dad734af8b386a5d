#pragma once

#include <map>
#include <string>
#include <string_view>

#include "platform/DateTime.h"
#include "platform/Exceptions.h"

// The window's saved settings, read without Qt so the command line can start from them.
//
// The window keeps them with QSettings (native format, user scope, organisation "kestrom",
// application "pictova"): an INI file at $XDG_CONFIG_HOME/kestrom/pictova.conf (default
// ~/.config), nine values at the top level ([General]):
//   "apptitle", "author", "subject", "keywords", "creator", "procedure", "positions"  texts
//   "createtime", "modifytime"   8-byte byte arrays: the little-endian IEEE 754 double of the
//                                date-time (days since 30 December 1899, local time)
// Texts are UTF-8 in the file.

inline constexpr const char* kSettingsOrganization = "kestrom";
inline constexpr const char* kSettingsApplication = "pictova";

// The value names.
inline constexpr const char* kSettingTitle = "apptitle";
inline constexpr const char* kSettingAuthor = "author";
inline constexpr const char* kSettingSubject = "subject";
inline constexpr const char* kSettingKeywords = "keywords";
inline constexpr const char* kSettingCreated = "createtime";
inline constexpr const char* kSettingModified = "modifytime";
inline constexpr const char* kSettingCreator = "creator";
inline constexpr const char* kSettingProducer = "procedure";
inline constexpr const char* kSettingQuality = "positions";

// The stored form of a date-time: the 8 bytes of its little-endian IEEE 754 double.
std::string DateTimeToSettingBytes(TDateTime value);

// One top-level value as QSettings reads it back.
struct TSettingsValue
{
    enum class TType
    {
        Text,     // a plain value, "@@..." (a text starting with "@") or "@String(...)"
        Bytes,    // "@ByteArray(...)"
        TextList, // a value with commas outside quotes
        Invalid,  // "@Invalid()": an empty variant, read as if the value were missing
        Other     // "@Variant(...)", "@DateTime(...)", "@Rect(...)", "@Size(...)", "@Point(...)"
    };
    TType Type = TType::Text;
    std::string Data; // Text: UTF-8; Bytes: the bytes; Other: the type's name ("Variant", ...)
};

// Top-level values by key (UTF-8, case-sensitive); a key given twice keeps the later value.
using TSettingsValues = std::map<std::string, TSettingsValue>;

// Parses an INI text as Qt 6 reads it: sections ([General], in any letter case, is the top
// level; other sections are groups and skipped), keys with %XX and %UXXXX escapes ('\' makes a
// group), ';' comments, quoting, the escapes \a \b \f \n \r \t \v \" \? \' \\ \xHHHH and octal
// \ooo, backslash-newline continuation, leading and unquoted trailing spaces dropped. Never fails:
// what cannot be read is passed over, as Qt does.
TSettingsValues ParseSettingsText(std::string_view text);

// What the window shows after loading (the pickers hold one date-time each for created and
// modified). The defaults are those of a first start, save the dates, which are "now".
struct TSavedSettings
{
    std::string Title;                        // "apptitle"
    std::string Author;                       // "author"
    std::string Subject;                      // "subject"
    std::string Keywords;                     // "keywords"
    TDateTime Created = 0;                    // "createtime"
    TDateTime Modified = 0;                   // "modifytime"
    std::string Creator = "Kestrom Pictova";  // "creator"
    std::string Producer = "Kestrom Pictova"; // "procedure"
    int Quality = 60;                         // "positions"
};

// A saved text value that holds another type.
class ESettingsError : public Exception
{
public:
    using Exception::Exception;
};

// Loads the values into settings in the window's order: the four texts (missing: empty), the
// two date-times (missing, not 8 bytes, or not a date from year 1 to 9999: now), "creator" and
// "procedure" only when present, and the quality (QualityFromText). A text value holding another
// type throws ESettingsError naming the value; what was loaded before it stays loaded.
void LoadSavedSettings(const TSettingsValues& values, TDateTime now, TSavedSettings& settings);

// "positions" as the track bar takes it: a decimal integer (surrounding blanks and a sign
// allowed), 60 when the text is none, then clamped into 1..100.
int QualityFromText(std::string_view text);

// The settings file QSettings uses for the window: $XDG_CONFIG_HOME/kestrom/pictova.conf when
// XDG_CONFIG_HOME is set and not empty (a relative one counts from the current folder, as Qt
// takes it), else $HOME/.config/kestrom/pictova.conf ("/" when HOME is unset or empty).
std::string SettingsFilePath();

// Reads and loads the file at path onto the defaults. A missing file gives the defaults (the
// window's first start); a file that cannot be read throws EFileError, a text value holding
// another type ESettingsError, each naming the file.
TSavedSettings ReadSettingsFile(const std::string& path, TDateTime now);
