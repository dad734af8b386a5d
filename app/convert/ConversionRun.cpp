#include "app/convert/ConversionRun.h"

#include <cmath>

#include "app/convert/FileList.h"
#include "app/imaging/ImagePreparation.h"
#include "platform/Exceptions.h"
#include "platform/Graphics.h"
#include "platform/Stream.h"
#include "report/PRJpegImage.h"
#include "report/PReport.h"

namespace
{

// The time of day of a date-time: what is left after the whole days, truncated toward zero.
TDateTime Frac(TDateTime value)
{
    return value - std::trunc(value);
}

} // namespace

TConversionRun::TConversionRun()
    : m_form(std::make_unique<TForm>(nullptr)), m_components(CreateConverterComponents(*m_form))
{
}

TConversionRun::~TConversionRun() = default;

void TConversionRun::SetFileName(const std::string& path)
{
    m_components.PReport1.SetFileName(path);
}

void TConversionRun::Run(const std::vector<std::string>& paths, int quality,
                         const TDocumentProperties& properties, IConversionObserver& observer)
{
    TPReport& report = m_components.PReport1;
    const int count = static_cast<int>(paths.size());
    m_runResult = 0;
    observer.SetProgressPosition(0);
    observer.SetProgressMax(count);

    report.SetTitle(properties.Title);
    report.SetAuthor(properties.Author);
    report.SetSubject(properties.Subject);
    report.SetKeywords(properties.Keywords);
    report.SetCreationDate(std::trunc(properties.CreatedDate) + Frac(properties.CreatedTime));
    report.SetModDate(std::trunc(properties.ModifiedDate) + Frac(properties.ModifiedTime));
    report.SetCreator(properties.Creator);
    report.SetProducer(properties.Producer);

    // One empty line keeps the text item on every page's layout; it shows nothing.
    m_components.PRText1.SetLines({std::string()});

    report.StartDocument();
    try
    {
        for (int i = 0; i < count; ++i)
        {
            const std::string& path = paths[static_cast<std::size_t>(i)];
            if (!FileIsPresent(path))
            {
                observer.PictureSkipped(i, path, "file not found");
                continue;
            }
            if (observer.CancelRequested())
            {
                report.AbortDocument();
                m_runResult = 2;
                return;
            }
            try
            {
                PreparePage(path, quality, observer);
            }
            catch (const std::exception& e)
            {
                observer.PictureSkipped(i, path, e.what());
                continue;
            }
            observer.SetStatusText("page" + std::to_string(i + 1) + ":" + path);
            report.PrintPage(m_components.PRPage1);
            observer.SetPercentText(PercentText(i + 1, count));
            observer.SetProgressPosition(i + 1);
        }
        // A document without pages cannot be written; say so instead of leaving a broken file.
        if (report.PageCount() == 0)
            throw Exception("No picture could be converted.");
        report.EndDocument();
    }
    catch (...)
    {
        report.AbortDocument();
        m_runResult = 0;
        throw;
    }
    m_runResult = 1;
}

void TConversionRun::PreparePage(const std::string& path, int quality,
                                 IConversionObserver& observer)
{
    TMemoryStream stream;
    if (const std::string reason = TryReencodeAsJpeg(path, quality, stream); !reason.empty())
        throw Exception(reason);
    auto jpeg = std::make_unique<TJPEGImage>();
    stream.SetPosition(0);
    jpeg->LoadFromStream(stream);

    m_components.PlacePicture(std::move(jpeg));
    observer.ProcessMessages();
}

std::string PercentText(int done, int total)
{
    const long double percent =
        static_cast<long double>(done) / static_cast<long double>(total) * 100.0L;
    long double whole = std::floor(percent);
    const long double rest = percent - whole;
    // Halves go to the even neighbour: 12.5 gives 12, 37.5 gives 38.
    if (rest > 0.5L || (rest == 0.5L && std::fmod(whole, 2.0L) != 0.0L))
        whole += 1.0L;
    return std::to_string(static_cast<long long>(whole)) + "%";
}
