#include "app/convert/FileList.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <dirent.h>
#include <sys/stat.h>

namespace
{

char UpperAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::string UpperCased(std::string_view text)
{
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(), UpperAscii);
    return upper;
}

// Compares two runs of digits by value without converting them, so a run of any length works.
// Returns <0, 0 or >0.
int CompareNumbers(std::string_view a, std::string_view b)
{
    const auto significant = [](std::string_view digits) {
        const std::size_t first = digits.find_first_not_of('0');
        return first == std::string_view::npos ? std::string_view() : digits.substr(first);
    };
    const std::string_view sa = significant(a);
    const std::string_view sb = significant(b);
    if (sa.size() != sb.size())
        return sa.size() < sb.size() ? -1 : 1;
    return sa.compare(sb);
}

std::string_view DigitRun(std::string_view text, std::size_t from)
{
    std::size_t end = from;
    while (end < text.size() && IsDigit(text[end]))
        ++end;
    return text.substr(from, end - from);
}

// <0, 0 or >0 by natural order alone (equal for names differing only in case or leading zeros).
int NaturalCompare(std::string_view a, std::string_view b)
{
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size())
    {
        if (IsDigit(a[i]) && IsDigit(b[j]))
        {
            const std::string_view na = DigitRun(a, i);
            const std::string_view nb = DigitRun(b, j);
            if (const int c = CompareNumbers(na, nb); c != 0)
                return c;
            i += na.size();
            j += nb.size();
            continue;
        }
        const auto ca = static_cast<unsigned char>(LowerAscii(a[i]));
        const auto cb = static_cast<unsigned char>(LowerAscii(b[j]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    const std::size_t restA = a.size() - i;
    const std::size_t restB = b.size() - j;
    if (restA == restB)
        return 0;
    return restA < restB ? -1 : 1;
}

struct DirCloser
{
    void operator()(DIR* dir) const { closedir(dir); }
};

} // namespace

bool FileIsPresent(const std::string& path)
{
    struct stat info
    {
    };
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool IsFileInList(const TPictureList& list, const std::string& path)
{
    return std::find(list.begin(), list.end(), path) != list.end();
}

bool ExtensionIsAccepted(std::string_view path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos)
        return false;
    static const std::string upperFilter = UpperCased(kPictureFilter);
    return upperFilter.find("*" + UpperCased(name.substr(dot))) != std::string::npos;
}

bool NaturalNameLess(std::string_view a, std::string_view b)
{
    const int c = NaturalCompare(a, b);
    return c != 0 ? c < 0 : a < b;
}

std::string SkipReasonText(const TSkippedFile& skipped)
{
    switch (skipped.Reason)
    {
    case TSkipReason::NotFound:
        return "not found";
    case TSkipReason::Duplicate:
        return "already in the list";
    case TSkipReason::TemporaryFile:
        return "a temporary file";
    case TSkipReason::NotAPictureType:
        return "not an accepted picture type";
    case TSkipReason::FolderUnreadable:
        return "cannot read the folder: " + skipped.Detail;
    }
    return "skipped";
}

namespace
{

// The last test of every way in: a path already listed is skipped, anything else appended.
void AppendUnlessListed(TPictureList& list, const std::string& path, TListAddition& result)
{
    if (IsFileInList(list, path))
    {
        result.Skipped.push_back({path, TSkipReason::Duplicate, {}});
        return;
    }
    list.push_back(path);
    result.Added.push_back(path);
}

// The tests of a file that came in without being chosen by name (from a folder or a drop).
void AppendUnlessRefused(TPictureList& list, const std::string& path, TListAddition& result)
{
    if (path.find("~$") != std::string::npos)
        result.Skipped.push_back({path, TSkipReason::TemporaryFile, {}});
    else if (!ExtensionIsAccepted(path))
        result.Skipped.push_back({path, TSkipReason::NotAPictureType, {}});
    else
        AppendUnlessListed(list, path, result);
}

} // namespace

TListAddition AddFiles(TPictureList& list, const std::vector<std::string>& paths)
{
    TListAddition result;
    for (const std::string& path : paths)
    {
        if (!FileIsPresent(path))
            result.Skipped.push_back({path, TSkipReason::NotFound, {}});
        else
            AppendUnlessListed(list, path, result);
    }
    return result;
}

TListAddition AddFolder(TPictureList& list, const std::string& folder)
{
    TListAddition result;
    std::string base = folder;
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    // The root folder joins as "/name", not "//name".
    const std::string prefix = base == "/" ? base : base + "/";

    std::unique_ptr<DIR, DirCloser> dir(opendir(base.c_str()));
    if (!dir)
    {
        result.Skipped.push_back({folder, TSkipReason::FolderUnreadable, std::strerror(errno)});
        return result;
    }
    // A directory listing comes in no useful order; people expect the order a file manager shows.
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = readdir(dir.get()))
    {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    if (errno != 0)
    {
        result.Skipped.push_back({folder, TSkipReason::FolderUnreadable, std::strerror(errno)});
        return result;
    }
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return NaturalNameLess(a, b); });

    for (const std::string& name : names)
    {
        const std::string path = prefix + name;
        // Sub-folders, fifos, sockets and dangling links are not files of the folder: they are
        // passed over without a word, as a search for files never finds them.
        if (FileIsPresent(path))
            AppendUnlessRefused(list, path, result);
    }
    return result;
}

TListAddition AddDroppedFiles(TPictureList& list, const std::vector<std::string>& paths)
{
    TListAddition result;
    for (const std::string& path : paths)
    {
        if (!FileIsPresent(path))
            result.Skipped.push_back({path, TSkipReason::NotFound, {}});
        else
            AppendUnlessRefused(list, path, result);
    }
    return result;
}

TListCommandStates ListCommandStates(int count, int selected)
{
    TListCommandStates states;
    if (count <= 0)
        return states;
    states.RemoveAll = true;
    states.Convert = true;
    if (selected < 0 || selected >= count)
        return states;
    states.Remove = true;
    if (count == 1)
        return states;
    states.MoveUp = selected != 0;
    states.MoveDown = selected != count - 1;
    return states;
}

int DraggedEntryIndex(int dragged, int target, int count)
{
    if (target < 0 || target >= count)
        return count - 1;
    // The copy goes in before the target; taking the original out of the list then shifts
    // everything behind it, the copy too when it lies behind.
    return target > dragged ? target - 1 : target;
}
