#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/convert/ConverterComponents.h"
#include "platform/DateTime.h"

// What the run tells the window that drives it, and what it asks of it. The progress window
// shows these in Label1, Label2 and ProgressBar1; the command line prints them.
class IConversionObserver
{
public:
    virtual ~IConversionObserver() = default;
    virtual void SetStatusText(const std::string& text) = 0;  // Label1
    virtual void SetPercentText(const std::string& text) = 0; // Label2
    virtual void SetProgressMax(int max) = 0;
    virtual void SetProgressPosition(int position) = 0;
    // Process pending window events once; the only moment Cancel can be pressed in a run.
    virtual void ProcessMessages() = 0;
    // Polled before each picture whose file exists.
    virtual bool CancelRequested() = 0;
    // A picture that gives no page: its file is gone ("file not found"), or it could not be
    // read, decoded or encoded (the reason). The window ignores it; the command line prints it.
    virtual void PictureSkipped(int index, const std::string& path, const std::string& reason) = 0;
};

struct TPreparedPicture;

// The number of cores, at least 1.
int DefaultWorkers();

// How a run ended, as the progress window reports it to the Convert command.
enum TRunResult : std::int32_t
{
    rrNone = 0,      // the run has not come to an end (or an error left it)
    rrWritten = 1,   // the document was written
    rrCancelled = 2, // cancelled; nothing written
};

// The main window's fields that the run reads. A creation or modification date-time is the
// whole day of its date picker plus the time of day of its time picker.
struct TDocumentProperties
{
    std::string Title;
    std::string Author;
    std::string Subject;
    std::string Keywords;
    TDateTime CreatedDate = 0;  // DateTimePicker1
    TDateTime CreatedTime = 0;  // DateTimePicker2
    TDateTime ModifiedDate = 0; // DateTimePicker3
    TDateTime ModifiedTime = 0; // DateTimePicker4
    std::string Creator = "Kestrom Pictova";
    std::string Producer = "Kestrom Pictova";
};

// The conversion run of the progress window: its report components (CreateConverterComponents)
// and the run that prints one page per picture into the PDF. A new object for every run, so
// RunResult starts at rrNone.
class TConversionRun
{
public:
    TConversionRun();
    ~TConversionRun();
    TConversionRun(const TConversionRun&) = delete;
    TConversionRun& operator=(const TConversionRun&) = delete;

    // The output path, set before the run (PReport1's FileName, "default.pdf" until then).
    void SetFileName(const std::string& path);

    // Threads that prepare pictures ahead of the run; 1 prepares each on the run's own thread
    // when its turn comes. The document is the same byte for byte either way. Default: the
    // number of cores.
    int Workers() const { return m_workers; }
    void SetWorkers(int workers) { m_workers = workers < 1 ? 1 : workers; }

    // The run (the progress window's Timer1Timer). Pictures are re-encoded as JPEG at quality
    // (1..100) and printed one page each, in list order; missing and failing pictures are
    // skipped. Ends with RunResult rrWritten or rrCancelled (nothing written). When no page
    // could be printed it throws Exception("No picture could be converted."), and any other
    // failure leaving the run is rethrown; both leave RunResult rrNone and no file.
    void Run(const std::vector<std::string>& paths, int quality,
             const TDocumentProperties& properties, IConversionObserver& observer);

    TRunResult RunResult() const { return m_runResult; }

    // The components, for the window and for tests; owned by this object.
    TPReport& PReport1() const { return m_components.PReport1; }
    TPRPage& PRPage1() const { return m_components.PRPage1; }
    TPRLayoutPanel& PRLayoutPanel1() const { return m_components.PRLayoutPanel1; }
    TPRJpegImage& PRJpegImage1() const { return m_components.PRJpegImage1; }
    TPRText& PRText1() const { return m_components.PRText1; }

private:
    // Fits the page and the picture item to a re-encoded picture; throws its failure.
    void PreparePage(TPreparedPicture prepared, IConversionObserver& observer);

    std::unique_ptr<TForm> m_form; // owns the components
    TConverterComponents m_components;
    TRunResult m_runResult = rrNone;
    int m_workers = DefaultWorkers();
};

// The percentage text after list position done of total: done / total * 100 in extended
// precision, rounded to the nearest integer with halves to the even one, and "%".
std::string PercentText(int done, int total);
