#include "app/convert/ConversionRun.h"

#include <cmath>
#include <thread>

#include "app/convert/FileList.h"
#include "app/convert/PreparationPool.h"
#include "app/imaging/ImagePreparation.h"
#include "app/imaging/PictureSize.h"
#include "platform/Exceptions.h"
#include "platform/Graphics.h"
#include "platform/Stream.h"
#include "report/PRJpegImage.h"
#include "report/PReport.h"

namespace
{

// Re-encodes one picture as JPEG; thread-safe.
TPreparedPicture PreparePicture(const std::string& path, int quality)
{
    TMemoryStream stream;
    if (std::string reason = TryReencodeAsJpeg(path, quality, stream); !reason.empty())
        return {std::string(), std::move(reason)};
    return {stream.TakeBytes(), std::string()};
}

} // namespace

int DefaultWorkers()
{
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

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
    m_runResult = rrNone;
    observer.SetProgressPosition(0);
    observer.SetProgressMax(count);

    report.SetTitle(properties.Title);
    report.SetAuthor(properties.Author);
    report.SetSubject(properties.Subject);
    report.SetKeywords(properties.Keywords);
    report.SetCreationDate(CombineDateTime(properties.CreatedDate, properties.CreatedTime));
    report.SetModDate(CombineDateTime(properties.ModifiedDate, properties.ModifiedTime));
    report.SetCreator(properties.Creator);
    report.SetProducer(properties.Producer);

    // One empty line keeps the text item on every page's layout; it shows nothing.
    m_components.PRText1.SetLines({std::string()});

    report.StartDocument();
    // With several workers the pictures are prepared ahead on them; everything the observer
    // sees still happens here, in list order, exactly as with none.
    std::unique_ptr<TPreparationPool> pool;
    try
    {
        if (m_workers > 1 && count > 1)
        {
            TPreparationLimits limits;
            limits.Workers = m_workers;
            pool = std::make_unique<TPreparationPool>(
                count, limits,
                [&paths](int i) {
                    return EstimatePreparationBytes(paths[static_cast<std::size_t>(i)]);
                },
                [&paths, quality](int i) {
                    return PreparePicture(paths[static_cast<std::size_t>(i)], quality);
                });
        }
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
                pool.reset(); // what was prepared ahead is thrown away
                report.AbortDocument();
                m_runResult = rrCancelled;
                return;
            }
            try
            {
                PreparePage(pool != nullptr ? pool->Take(i) : PreparePicture(path, quality),
                            observer);
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
        pool.reset();
        report.AbortDocument();
        m_runResult = rrNone;
        throw;
    }
    m_runResult = rrWritten;
}

void TConversionRun::PreparePage(TPreparedPicture prepared, IConversionObserver& observer)
{
    if (!prepared.Failure.empty())
        throw Exception(prepared.Failure);
    auto jpeg = std::make_unique<TJPEGImage>();
    jpeg->SetData(std::move(prepared.Jpeg));
    if (jpeg->Width() == 0)
        throw Exception("JPEG error: the encoder's output has no readable header");

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
