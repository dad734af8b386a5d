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

TConversionRun::TConversionRun() : m_form(std::make_unique<TForm>(nullptr))
{
    // The progress window's components, in the order it declares them.
    m_report = &m_form->Create<TPReport>();
    m_report->SetName("PReport1");
    m_report->SetUseOutlines(false);

    m_page = &m_form->Create<TPRPage>();
    m_page->SetName("PRPage1");
    m_page->SetVisible(false);
    m_page->SetBounds(0, 0, 596, 842);
    m_page->SetMarginLeft(32);
    m_page->SetMarginTop(32);
    m_page->SetMarginRight(32);
    m_page->SetMarginBottom(32);

    m_panel = &m_form->Create<TPRLayoutPanel>();
    m_panel->SetName("PRLayoutPanel1");
    m_panel->SetParent(m_page);
    m_panel->SetAlign(alClient);

    m_image = &m_form->Create<TPRJpegImage>();
    m_image->SetName("PRJpegImage1");
    m_image->SetParent(m_panel);
    m_image->SetSharedImage(false);
    m_image->SetStretch(false);

    m_text = &m_form->Create<TPRText>();
    m_text->SetName("PRText1");
    m_text->SetParent(m_panel);
    m_text->SetBounds(16, 32, 513, 89);
    m_text->SetFontName(fnArial);
    m_text->SetFontSize(20);
    m_text->SetFontBold(true);
    m_text->SetFontColor(clRed);
    m_text->SetLeading(14);
}

TConversionRun::~TConversionRun() = default;

void TConversionRun::SetFileName(const std::string& path)
{
    m_report->SetFileName(path);
}

void TConversionRun::Run(const std::vector<std::string>& paths, int quality,
                         const TDocumentProperties& properties, IConversionObserver& observer)
{
    const int count = static_cast<int>(paths.size());
    m_runResult = 0;
    observer.SetProgressPosition(0);
    observer.SetProgressMax(count);

    m_report->SetTitle(properties.Title);
    m_report->SetAuthor(properties.Author);
    m_report->SetSubject(properties.Subject);
    m_report->SetKeywords(properties.Keywords);
    m_report->SetCreationDate(std::trunc(properties.CreatedDate) + Frac(properties.CreatedTime));
    m_report->SetModDate(std::trunc(properties.ModifiedDate) + Frac(properties.ModifiedTime));
    m_report->SetCreator(properties.Creator);
    m_report->SetProducer(properties.Producer);

    // One empty line keeps the text item on every page's layout; it shows nothing.
    m_text->SetLines({std::string()});

    m_report->StartDocument();
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
                m_report->AbortDocument();
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
            m_report->PrintPage(*m_page);
            observer.SetPercentText(PercentText(i + 1, count));
            observer.SetProgressPosition(i + 1);
        }
        // A document without pages cannot be written; say so instead of leaving a broken file.
        if (m_report->PageCount() == 0)
            throw Exception("No picture could be converted.");
        m_report->EndDocument();
    }
    catch (...)
    {
        m_report->AbortDocument();
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

    // The margins go to 0 before the page takes the picture's size: a margin is refused unless
    // it is smaller than half the width, so after sizing the page to a picture 1 pixel wide the
    // old margins of 32 would stay and the picture would lie outside the page.
    m_page->SetMarginLeft(0);
    m_page->SetMarginRight(0);
    m_page->SetMarginTop(0);
    m_page->SetMarginBottom(0);
    m_page->SetWidth(jpeg->Width());
    m_page->SetHeight(jpeg->Height());

    m_image->Picture().SetGraphic(std::move(jpeg));
    // The panel lies one unit inside the page's edge, so (-1, -1) in it is the page's corner.
    m_image->SetBounds(-1, -1, m_page->Width(), m_page->Height());
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
