#include "pdf/PdfWrappers.h"

#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "PdfTestUtil.h"
#include "pdf/PdfDoc.h"
#include "tests/support/TestSupport.h"

using ::testing::HasSubstr;

namespace
{

class PdfWrappersTest : public ::testing::Test
{
protected:
    PdfWrappersTest()
    {
        m_doc.SetUseOutlines(true);
        m_doc.NewDocument();
        m_doc.AddPage();
    }

    TPdfDictionary& Page() { return *m_doc.GetCanvas()->Page(); } // object 5
    std::string Catalog() { return Inline(*m_doc.GetRoot()->Dictionary()); }

    ScopedClock m_clock{EncodeDateTime(2024, 3, 7, 14, 5, 9)};
    ScopedTZ m_zone{"UTC0"};
    ScopedCodePage m_codePage{Windows1252CodePage()};
    TPdfDoc m_doc;
};

TEST_F(PdfWrappersTest, InfoSettersReplaceTheirEntryAtTheEnd)
{
    TPdfInfo& info = *m_doc.GetInfo();
    info.SetTitle("First");
    info.SetAuthor("A. Author");
    info.SetSubject("");
    info.SetKeywords("k1 (k2)");
    info.SetCreator("Creator");
    info.SetModDate(EncodeDateTime(2023, 12, 31, 23, 59, 58));
    info.SetTitle("Second");
    EXPECT_EQ(Inline(*info.Dictionary()),
              "<<\r\n/Producer ()\r\n/CreationDate (D:20240307140509-00'00')\r\n"
              "/Author (A. Author)\r\n/Subject ()\r\n/Keywords (k1 \\(k2\\))\r\n"
              "/Creator (Creator)\r\n/ModDate (D:20231231235958-00'00')\r\n/Title (Second)\r\n>>");
}

TEST_F(PdfWrappersTest, CatalogNamesAreReplacedInPlace)
{
    TPdfCatalog& catalog = *m_doc.GetRoot();
    catalog.SetPageLayout(plTwoColumnLeft);
    catalog.SetPageMode(pmUseThumbs);
    catalog.SetPageLayout(plOneColumn);
    EXPECT_EQ(Catalog(), "<<\r\n/Type /Catalog\r\n/Outlines 2 0 R\r\n/Pages 4 0 R\r\n"
                         "/PageLayout /OneColumn\r\n/PageMode /UseThumbs\r\n>>");

    // Only a page tree node is taken as "Pages".
    catalog.SetPages(Page());
    EXPECT_THAT(Catalog(), HasSubstr("/Pages 4 0 R"));
}

TEST_F(PdfWrappersTest, NonFullScreenPageModeAlwaysMakesTheViewerPreferences)
{
    TPdfCatalog& catalog = *m_doc.GetRoot();
    catalog.SetNonFullScreenPageMode(pmFullScreen);
    EXPECT_THAT(Catalog(), HasSubstr("/ViewerPreferences <<\r\n>>\r\n"));
    catalog.SetNonFullScreenPageMode(pmUseOutlines);
    catalog.SetViewerPreference({vpCenterWindow, vpFitWindow});
    catalog.SetNonFullScreenPageMode(pmUseThumbs);
    EXPECT_THAT(Catalog(), HasSubstr("/ViewerPreferences <<\r\n/NonFullScreenPageMode "
                                     "/UseThumbs\r\n/FitWindow true\r\n/CenterWindow true\r\n>>"));
    catalog.SetNonFullScreenPageMode(pmUseNone);
    catalog.SetViewerPreference({});
    EXPECT_THAT(Catalog(), HasSubstr("/ViewerPreferences <<\r\n>>\r\n"));
}

TEST_F(PdfWrappersTest, EmptyViewerPreferencesOnAFreshCatalogAddNothing)
{
    m_doc.GetRoot()->SetViewerPreference({});
    EXPECT_THAT(Catalog(), ::testing::Not(HasSubstr("ViewerPreferences")));
    TPdfViewerPreferences all{vpHideToolbar, vpHideMenubar, vpHideWindowUI, vpFitWindow,
                              vpCenterWindow};
    all.Exclude(vpHideMenubar);
    m_doc.GetRoot()->SetViewerPreference(all);
    EXPECT_THAT(Catalog(), HasSubstr("<<\r\n/HideToolbar true\r\n/HideWindowUI true\r\n"
                                     "/FitWindow true\r\n/CenterWindow true\r\n>>"));
}

TEST_F(PdfWrappersTest, DestinationsWriteTheirOperandsByType)
{
    TPdfDestination destination(m_doc, Page(), dtXYZ);
    destination.SetLeft(-101);
    destination.SetTop(-100);
    destination.SetZoom(-2);
    EXPECT_EQ(Inline(*destination.GetValue()), "[5 0 R /XYZ null -100 0 ]");
    EXPECT_EQ(destination.Zoom(), 0);
    destination.SetZoom(1.5F);
    destination.SetLeft(10);
    EXPECT_EQ(Inline(*destination.GetValue()), "[5 0 R /XYZ 10 -100 1.5 ]");

    destination.SetLeft(-200);
    destination.SetTop(700);
    destination.SetRight(-300);
    destination.SetBottom(20);
    const std::pair<TPdfDestinationType, const char*> cases[] = {
        {dtFit, "[5 0 R /Fit ]"},
        {dtFitB, "[5 0 R /FitB ]"},
        {dtFitH, "[5 0 R /FitH 700 ]"},
        {dtFitBH, "[5 0 R /FitBH 700 ]"},
        {dtFitV, "[5 0 R /FitV null ]"},
        {dtFitBV, "[5 0 R /FitBV null ]"},
        {dtFitR, "[5 0 R /FitR -200 20 -300 700 ]"},
    };
    for (const auto& [type, expected] : cases)
    {
        destination.SetDestinationType(type);
        EXPECT_EQ(Inline(*destination.GetValue()), expected);
    }
}

TEST_F(PdfWrappersTest, OpenActionIsBroughtUpToDateWhenSaving)
{
    TPdfDestination destination(m_doc, Page(), dtFit);
    m_doc.GetRoot()->SetOpenAction(&destination);
    TMemoryStream out;
    m_doc.SaveToStream(out);
    EXPECT_THAT(Catalog(), HasSubstr("/OpenAction [5 0 R /Fit ]\r\n"));
    m_doc.GetRoot()->SetOpenAction(nullptr);
    m_doc.GetRoot()->SaveOpenAction();
    EXPECT_THAT(Catalog(), ::testing::Not(HasSubstr("OpenAction")));
}

// Counts how many of its kind are alive, to see the outline entry free it.
class TCountedReference : public TPdfOutlineReference
{
public:
    explicit TCountedReference(int& alive) : m_alive(alive) { ++m_alive; }
    ~TCountedReference() override { --m_alive; }

private:
    int& m_alive;
};

TEST_F(PdfWrappersTest, OutlineTreeIsSavedDepthFirst)
{
    TPdfOutlineRoot& root = *m_doc.GetOutlineRoot();
    EXPECT_TRUE(root.Opened());
    try
    {
        TPdfOutlineEntry::CreateEntry(nullptr);
        ADD_FAILURE() << "no exception";
    }
    catch (const Exception& e)
    {
        EXPECT_STREQ(e.what(), "CreateEntry --invalid parent.");
    }

    TPdfOutlineEntry& first = TPdfOutlineEntry::CreateEntry(&root);
    TPdfOutlineEntry& second = TPdfOutlineEntry::CreateEntry(&root);
    EXPECT_EQ(first.Parent(), &root);
    EXPECT_FALSE(first.Opened());
    EXPECT_EQ(first.Dictionary()->ObjectNumber(), 8);
    root.SetFirst(&first);
    root.SetLast(&second);
    root.SetCount(2);
    first.SetNext(&second);
    first.SetTitle("One");
    second.SetPrev(&first);
    second.SetTitle("Two");
    second.SetCount(3);
    TPdfDestination destination(m_doc, Page(), dtFitH);
    destination.SetTop(-101);
    second.SetDest(&destination);
    root.Save();

    EXPECT_EQ(Inline(*root.Dictionary()),
              "<<\r\n/Type /Outlines\r\n/Count 2\r\n/First 8 0 R\r\n/Last 9 0 R\r\n>>");
    EXPECT_EQ(Inline(*first.Dictionary()), "<<\r\n/Count 0\r\n/Title (One)\r\n/Next 9 0 R\r\n>>");
    EXPECT_EQ(Inline(*second.Dictionary()),
              "<<\r\n/Count -3\r\n/Title (Two)\r\n/Dest [5 0 R /FitH null ]\r\n/Prev 8 0 R\r\n>>");

    int alive = 0;
    root.SetReference(std::make_unique<TCountedReference>(alive));
    EXPECT_EQ(alive, 1);
    m_doc.CloseDocument();
    EXPECT_EQ(alive, 0);
}

} // namespace
