#include "app/convert/ConverterComponents.h"

#include "platform/Graphics.h"
#include "report/PRJpegImage.h"
#include "report/PReport.h"

TConverterComponents CreateConverterComponents(TForm& form)
{
    auto& report = form.Create<TPReport>();
    report.SetName("PReport1");
    report.SetUseOutlines(false);

    auto& page = form.Create<TPRPage>();
    page.SetName("PRPage1");
    page.SetVisible(false);
    page.SetBounds(0, 0, 596, 842);
    page.SetMarginLeft(32);
    page.SetMarginTop(32);
    page.SetMarginRight(32);
    page.SetMarginBottom(32);

    auto& panel = form.Create<TPRLayoutPanel>();
    panel.SetName("PRLayoutPanel1");
    panel.SetParent(&page);
    panel.SetAlign(alClient);

    auto& image = form.Create<TPRJpegImage>();
    image.SetName("PRJpegImage1");
    image.SetParent(&panel);
    image.SetSharedImage(false);
    image.SetStretch(false);

    auto& text = form.Create<TPRText>();
    text.SetName("PRText1");
    text.SetParent(&panel);
    text.SetBounds(16, 32, 513, 89);
    text.SetFontName(fnArial);
    text.SetFontSize(20);
    text.SetFontBold(true);
    text.SetFontColor(clRed);
    text.SetLeading(14);

    return {report, page, panel, image, text};
}

void TConverterComponents::PlacePicture(std::unique_ptr<TJPEGImage> jpeg) const
{
    // The margins go to 0 before the page takes the picture's size: a margin is refused unless
    // it is smaller than half the width, so after sizing the page to a picture 1 pixel wide the
    // old margins of 32 would stay and the picture would lie outside the page.
    PRPage1.SetMarginLeft(0);
    PRPage1.SetMarginRight(0);
    PRPage1.SetMarginTop(0);
    PRPage1.SetMarginBottom(0);
    PRPage1.SetWidth(jpeg->Width());
    PRPage1.SetHeight(jpeg->Height());

    PRJpegImage1.Picture().SetGraphic(std::move(jpeg));
    // The panel lies one unit inside the page's edge, so (-1, -1) in it is the page's corner.
    PRJpegImage1.SetBounds(-1, -1, PRPage1.Width(), PRPage1.Height());
}
