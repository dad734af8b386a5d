#pragma once

#include <memory>

class TForm;
class TJPEGImage;
class TPReport;
class TPRPage;
class TPRLayoutPanel;
class TPRJpegImage;
class TPRText;

// The progress window's report components, in the order the window declares them, with their
// design-time settings: PReport1 ("default.pdf", no outlines, no viewer preferences), PRPage1
// (invisible, 596 x 842, margins 32), PRLayoutPanel1 filling the page inside the margins, and on
// it PRJpegImage1 (not shared, not stretched) and PRText1 (at (16, 32), 513 x 89, Arial 20
// bold, red, leading 14). The form that made them owns them.
struct TConverterComponents
{
    TPReport& PReport1;
    TPRPage& PRPage1;
    TPRLayoutPanel& PRLayoutPanel1;
    TPRJpegImage& PRJpegImage1;
    TPRText& PRText1;

    // One picture's layout step of the run: the page takes the picture's size with margins 0,
    // and the picture item holds the picture and covers the whole page.
    void PlacePicture(std::unique_ptr<TJPEGImage> jpeg) const;
};

TConverterComponents CreateConverterComponents(TForm& form);
