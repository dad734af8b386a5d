#include "app/cli/Cli.h"

#include <algorithm>

#include <sys/stat.h>

#include "app/cli/CliArguments.h"
#include "app/cli/StagedOutput.h"
#include "app/convert/ConversionRun.h"
#include "app/convert/FileList.h"
#include "app/convert/SettingsFile.h"
#include "platform/Services.h"

namespace
{

constexpr const char* kProgram = "pictova-cli";

// What a terminal is given of a text that may hold file names: control characters (C0, DEL and
// UTF-8-encoded C1) become '?', so a hostile name cannot send escape sequences to the terminal.
// Elsewhere (a file or a pipe) the bytes stay as they are.
std::string Shown(const TCliContext& context, const std::string& text)
{
    if (!context.ErrIsTerminal)
        return text;
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F)
            shown += '?';
        else if (c == 0xC2 && i + 1 < text.size() &&
                 static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                 static_cast<unsigned char>(text[i + 1]) <= 0x9F)
        {
            shown += '?';
            ++i;
        }
        else
            shown += text[i];
    }
    return shown;
}

void UsageError(const TCliContext& context, const std::string& message)
{
    context.Err << kProgram << ": " << Shown(context, message) << "\n"
                << "Try '" << kProgram << " --help' for more information.\n";
}

// Cuts a progress line to fit width columns: the start (percentage and page number) and the end
// (the file name) are what a person looks for. Never splits a UTF-8 sequence.
std::string FitLine(const std::string& line, int width)
{
    const std::size_t room = width > 20 ? static_cast<std::size_t>(width - 1) : 19;
    if (line.size() <= room)
        return line;
    const std::size_t head = std::min(line.find(':') + 1, room / 2);
    std::size_t tail = line.size() - (room - head - 3);
    while (tail < line.size() && (static_cast<unsigned char>(line[tail]) & 0xC0) == 0x80)
        ++tail;
    return line.substr(0, head) + "..." + line.substr(tail);
}

// Shows the run on the command line: one updating progress line while stderr is a terminal,
// and a line for every skipped picture.
class TCliObserver : public IConversionObserver
{
public:
    TCliObserver(const TCliContext& context, bool showProgress)
        : m_context(context), m_showProgress(showProgress && context.ErrIsTerminal)
    {
    }

    // IConversionObserver:
    void SetStatusText(const std::string& text) override
    {
        m_status = text;
        Redraw();
    }
    void SetPercentText(const std::string& text) override
    {
        m_percent = text;
        Redraw();
    }
    void SetProgressMax(int) override {}
    void SetProgressPosition(int) override {}
    void ProcessMessages() override {}
    bool CancelRequested() override
    {
        return m_context.CancelFlag != nullptr && *m_context.CancelFlag != 0;
    }
    void PictureSkipped(int, const std::string& path, const std::string& reason) override
    {
        ClearLine();
        m_context.Err << kProgram << ": " << Shown(m_context, path + ": " + reason) << "\n";
        Redraw();
    }

    // Leaves the last progress line standing.
    void Finish()
    {
        if (m_lineShown)
            m_context.Err << "\n" << std::flush;
        m_lineShown = false;
    }
    void ClearLine()
    {
        if (m_lineShown)
            m_context.Err << "\r\033[K";
        m_lineShown = false;
    }

private:
    void Redraw()
    {
        if (!m_showProgress)
            return;
        m_context.Err << "\r"
                      << FitLine(Shown(m_context, m_percent + " " + m_status),
                                 m_context.TerminalWidth)
                      << "\033[K" << std::flush;
        m_lineShown = true;
    }

    const TCliContext& m_context;
    bool m_showProgress;
    bool m_lineShown = false;
    std::string m_status;
    std::string m_percent;
};

void ReportSkipped(const TCliContext& context, const TListAddition& addition, bool folder)
{
    for (const TSkippedFile& skipped : addition.Skipped)
    {
        // A folder's files that are no pictures, lock files and files already listed are passed
        // over quietly, as the window's Add folder does; only a folder that cannot be read is
        // worth a word.
        if (folder && skipped.Reason != TSkipReason::FolderUnreadable)
            continue;
        context.Err << kProgram << ": "
                    << Shown(context, skipped.Path + ": " + SkipReasonText(skipped)) << "\n";
    }
}

bool IsFolder(const std::string& path)
{
    struct stat info
    {
    };
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsSameFile(const std::string& a, const std::string& b)
{
    struct stat infoA
    {
    };
    struct stat infoB
    {
    };
    return stat(a.c_str(), &infoA) == 0 && stat(b.c_str(), &infoB) == 0 &&
           infoA.st_dev == infoB.st_dev && infoA.st_ino == infoB.st_ino;
}

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

int Convert(const TCliArguments& arguments, const TCliContext& context)
{
    const TDateTime now = Clock().Now();
    TSavedSettings start; // the window's first start
    start.Created = start.Modified = now;
    if (arguments.UseSettings)
    {
        try
        {
            start = ReadSettingsFile(SettingsFilePath(), now);
        }
        catch (const Exception& e)
        {
            context.Err << kProgram << ": " << Shown(context, e.what()) << "\n";
            return kExitFailed;
        }
    }

    TPictureList list;
    for (const TPictureSource& source : arguments.Sources)
    {
        if (source.IsFolder)
            ReportSkipped(context, AddFolder(list, source.Path), true);
        else
            ReportSkipped(context, AddFiles(list, {source.Path}), false);
    }
    // Writing the PDF over one of its own pictures would lose that picture.
    for (const std::string& picture : list)
        if (IsSameFile(picture, arguments.Output))
        {
            UsageError(context, arguments.Output + ": is one of the pictures; give the PDF file "
                                                   "to write");
            return kExitUsage;
        }
    if (list.empty())
    {
        // The window's own words, on a line of their own.
        context.Err << "Please add image files!\n";
        return kExitUsage;
    }

    const ICodePage& codePage = context.CodePage != nullptr ? *context.CodePage : CodePage();
    // A text given is in the locale's codeset; a saved one is UTF-8.
    const auto text = [&](const std::optional<std::string>& given, const std::string& saved) {
        return given ? ToNarrowCodePage(*given, context.Codeset, codePage)
                     : ToNarrowCodePage(saved, "UTF-8", codePage);
    };
    TDocumentProperties properties;
    properties.Title = text(arguments.Title, start.Title);
    properties.Author = text(arguments.Author, start.Author);
    properties.Subject = text(arguments.Subject, start.Subject);
    properties.Keywords = text(arguments.Keywords, start.Keywords);
    properties.Creator = text(arguments.Creator, start.Creator);
    properties.Producer = text(arguments.Producer, start.Producer);
    // One value serves as both the date and the time picker.
    properties.CreatedDate = properties.CreatedTime = arguments.Created.value_or(start.Created);
    properties.ModifiedDate = properties.ModifiedTime = arguments.Modified.value_or(start.Modified);

    TCliObserver observer(context, !arguments.Quiet);
    TStagedOutput staged(arguments.Output);
    TConversionRun run;
    run.SetFileName(staged.Path());
    if (arguments.Jobs > 0)
        run.SetWorkers(arguments.Jobs);
    observer.SetStatusText("Preparing...");
    observer.SetPercentText("0%");
    bool cancelled = false;
    try
    {
        run.Run(list, arguments.Quality.value_or(start.Quality), properties, observer);
        // The run reads cancel before each picture only; a Ctrl+C during the last one or the
        // final write is honoured here, before the document is put in place.
        cancelled = run.RunResult() == rrCancelled || !staged.Commit(context.CancelFlag);
    }
    catch (const std::exception& e)
    {
        observer.ClearLine();
        context.Err << kProgram << ": " << Shown(context, staged.AsOutput(e.what())) << "\n";
        return kExitFailed;
    }
    if (cancelled)
    {
        observer.ClearLine();
        context.Err << kProgram << ": cancelled; " << Shown(context, arguments.Output)
                    << " was not written\n";
        return kExitCancelled;
    }
    observer.Finish();
    return kExitWritten;
}

} // namespace

int RunCli(int argc, const char* const* argv, const TCliContext& context)
{
    try
    {
        if (argc <= 1)
        {
            context.Err << UsageText();
            return kExitUsage;
        }
        const TParseResult parsed = ParseCliArguments(argc, argv);
        const TCliArguments& arguments = parsed.Arguments;
        if (!parsed.Error.empty())
        {
            UsageError(context, parsed.Error);
            return kExitUsage;
        }
        if (arguments.ShowHelp)
        {
            context.Out << UsageText();
            return kExitWritten;
        }
        if (arguments.ShowVersion)
        {
            context.Out << kProgram << " (Kestrom Pictova) " << PICTOVA_VERSION << "\n";
            return kExitWritten;
        }
        if (arguments.Output.empty())
        {
            UsageError(context, "no output file: give -o OUTPUT.pdf");
            return kExitUsage;
        }
        if (IsFolder(arguments.Output))
        {
            UsageError(context, arguments.Output + ": is a folder; give the PDF file to write");
            return kExitUsage;
        }
        // Found out now rather than after every picture was converted.
        if (const std::string folder = FolderOf(arguments.Output); !IsFolder(folder))
        {
            UsageError(context, arguments.Output + ": no folder " + folder + " to write it in");
            return kExitUsage;
        }
        // "-o photo1.jpg photo2.jpg", a forgotten output name, would put the PDF in place of a
        // picture the user wanted to keep.
        if (FileIsPresent(arguments.Output) && ExtensionIsAccepted(arguments.Output))
        {
            UsageError(context, arguments.Output + ": is a picture; give the PDF file to write");
            return kExitUsage;
        }
        return Convert(arguments, context);
    }
    catch (const std::exception& e)
    {
        context.Err << kProgram << ": " << e.what() << "\n";
        return kExitFailed;
    }
}
