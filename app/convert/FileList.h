#pragma once

#include <string>
#include <string_view>
#include <vector>

// The rules by which pictures enter the ordered picture list: the existence and duplicate tests,
// the extension test, and what Add files and Add folder append. The list itself is a vector of
// paths (byte strings handed to the system unchanged); its order is the page order.

using TPictureList = std::vector<std::string>;

// The accepted-type text: the Add-files dialog's filter, and, upper-cased, the table of accepted
// extensions for folder adding and dropping.
inline constexpr std::string_view kPictureFilter =
    "All (*.gif;*.png;*.jpg;*.jpeg;*.bmp;*.ico;*.emf;*.wmf)|*.gif;*.png;*.jpg;*.jpeg;*.bmp;*.ico;"
    "*.emf;*.wmf;*.tif|GIF Image (*.gif)|*.gif|Portable Network Graphics (*.png)|*.png|JPEG Image "
    "File (*.jpg)|*.jpg|JPEG Image File (*.jpeg)|*.jpeg|Bitmaps (*.bmp)|*.bmp|Icons "
    "(*.ico)|*.ico|Enhanced Metafiles (*.emf)|*.emf|Metafiles (*.wmf)|*.wmf|TIFF Files(*.tif "
    "*.tiff)|*.tif;*.tiff";

// True when path names a regular file (symbolic links followed). Directories, fifos, sockets
// and devices are not pictures and count as absent.
bool FileIsPresent(const std::string& path);

// True when some entry equals path exactly (byte for byte, so letter case matters).
bool IsFileInList(const TPictureList& list, const std::string& path);

// The extension test: the file name's extension (from its last "."), upper-cased in a..z only,
// must occur as "*" + extension somewhere in the upper-cased filter text. A substring search,
// so .jpe passes through *.JPEG; a name without a dot is refused.
bool ExtensionIsAccepted(std::string_view path);

// Orders file names as a person reads them: letter case ignored, runs of digits compared by
// value (img2 before img10); names that still compare equal fall back to byte order, so the
// order is total. Returns true when a comes before b.
bool NaturalNameLess(std::string_view a, std::string_view b);

enum class TSkipReason
{
    NotFound,        // not a regular file
    Duplicate,       // already in the list
    TemporaryFile,   // the path holds "~$" (an office program's lock file)
    NotAPictureType, // refused by the extension test
    FolderUnreadable // the folder itself could not be listed
};

struct TSkippedFile
{
    std::string Path;
    TSkipReason Reason;
    std::string Detail; // the system's reason for FolderUnreadable, else empty
};

// Words for a skip, for messages ("not found", "already in the list", ...).
std::string SkipReasonText(const TSkippedFile& skipped);

struct TListAddition
{
    std::vector<std::string> Added; // in the order appended
    std::vector<TSkippedFile> Skipped;
};

// Add files: each path, in the given order, is appended when it is present and not yet in the
// list. No extension test: the user chose these files by name.
TListAddition AddFiles(TPictureList& list, const std::vector<std::string>& paths);

// Files dropped from a file manager, in the order given: each path that is a present file
// (folders are not), holds no "~$", passes the extension test and is not yet listed is appended.
TListAddition AddDroppedFiles(TPictureList& list, const std::vector<std::string>& paths);

// Add folder: the folder's files (not its sub-folders) in natural name order; a path holding
// "~$", one the extension test refuses, or one already in the list is skipped. Dot files count
// as files. Trailing "/" on folder are dropped before names are joined to it.
TListAddition AddFolder(TPictureList& list, const std::string& folder);

// Which list commands are enabled for a list of count entries with the entry at selected
// selected (-1: none). Remove all and Convert need an entry, Remove a selection, Move up and
// Move down a neighbour in their direction.
struct TListCommandStates
{
    bool Remove = false;
    bool RemoveAll = false;
    bool MoveUp = false;
    bool MoveDown = false;
    bool Convert = false;
};
TListCommandStates ListCommandStates(int count, int selected);

// Where an entry dragged inside the list lands: immediately before the entry it was dropped on
// (target), whether it moved up or down, and last when dropped below the last entry (target
// -1). Returns the entry's new index; the other entries keep their order.
int DraggedEntryIndex(int dragged, int target, int count);
