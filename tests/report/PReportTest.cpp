#include "report/PReport.h"

#include <functional>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/Exceptions.h"
#include "report/PRJpegImage.h"
#include "tests/report/ReportTestSupport.h"
#include "tests/support/TestSupport.h"

namespace
{

const TDateTime kNow = EncodeDateTime(2024, 3, 7, 14, 5, 9);

// Files in folder other than the given ones: what a failed write may have left behind.
int EntryCount(const std::string& folder)
{
    std::string listing;
    RunCommand("ls -A '" + folder + "' | wc -l", &listing);
    return std::stoi(listing);
}

TEST(PReportTest, NewReportDefaults)
{
    ScopedClock clock(kNow);
    TPReport report(nullptr);
    EXPECT_EQ(report.FileName(), "default.pdf");
    EXPECT_EQ(report.CreationDate(), kNow);
    EXPECT_EQ(report.ModDate(), 0);
    EXPECT_EQ(report.PageCount(), 0);
    EXPECT_EQ(report.PageMode(), pmUseNone);
    EXPECT_EQ(report.PageLayout(), plSinglePage);
    EXPECT_FALSE(report.UseOutlines());
    EXPECT_TRUE(report.ViewerPreference().Empty());
}

TEST(PReportTest, GuardedSettersRefuseWhileADocumentIsOpen)
{
    TPReport report(nullptr);
    report.SetTitle("before");
    report.SetNonFullScreenPageMode(pmFullScreen);
    EXPECT_EQ(report.NonFullScreenPageMode(), pmUseNone);
    report.StartDocument();

    const std::vector<std::pair<std::function<void()>, std::string>> setters = {
        {[&] { report.SetAuthor("x"); }, "SetAuthor --invalid operation."},
        {[&] { report.SetCreationDate(1); }, "SetCreationDate --invalid operation."},
        {[&] { report.SetCreator("x"); }, "SetCreator --invalid operation."},
        {[&] { report.SetKeywords("x"); }, "SetKeyWords --invalid operation."},
        {[&] { report.SetModDate(1); }, "SetModDate --invalid operation."},
        {[&] { report.SetSubject("x"); }, "SetSubject --invalid operation."},
        {[&] { report.SetTitle("x"); }, "SetTitle --invalid operation."},
        {[&] { report.SetPageLayout(plOneColumn); }, "SetPageLayout --invalid operation."},
        {[&] { report.SetPageMode(pmUseThumbs); }, "SetPageMode --invalid operation."},
        {[&] { report.SetNonFullScreenPageMode(pmUseThumbs); },
         "SetNonFullScreenPageMode --invalid operation."},
        {[&] { report.SetUseOutlines(true); }, "SetUseOutlines --invalid operation."},
        {[&] { report.SetViewerPreference({vpFitWindow}); },
         "SetViewerPreference --invalid operation."},
    };
    for (const auto& [setter, message] : setters)
    {
        ExpectThrowWithMessage<EPdfInvalidOperation>(setter, message);
    }
    EXPECT_EQ(report.Title(), "before");
    EXPECT_EQ(report.ModDate(), 0);
    EXPECT_EQ(report.NonFullScreenPageMode(), pmUseNone);
    EXPECT_FALSE(report.UseOutlines());
    // The plain fields stay writable.
    report.SetFileName("other.pdf");
    report.SetProducer("p");

    report.AbortDocument();
    report.SetTitle("after");
    EXPECT_EQ(report.Title(), "after");
}

TEST(PReportTest, DocumentStateRules)
{
    TTempDir dir;
    const std::string path = dir.File("out.pdf");
    WriteFileBytes(path, "old");
    TForm form(nullptr);
    auto& report = form.Create<TPReport>();
    auto& page = form.Create<TPRPage>();
    report.SetFileName(path);

    // Nothing open: printing and ending are refused, aborting does nothing, no file changes.
    ExpectThrowWithMessage<EInvalidOperation>([&] { report.PrintPage(page); },
                                              "document is null..");
    report.AbortDocument();
    ExpectThrowWithMessage<EInvalidOperation>([&] { report.EndDocument(); }, "document is null..");
    EXPECT_EQ(ReadFileBytes(path), "old");

    // A second StartDocument discards the first document with its pages.
    report.StartDocument();
    report.PrintPage(page);
    report.PrintPage(page);
    EXPECT_EQ(report.PageCount(), 2);
    report.StartDocument();
    EXPECT_EQ(report.PageCount(), 0);
    report.PrintPage(page);
    // FileName is read only when the file is written.
    const std::string renamed = dir.File("renamed.pdf");
    report.SetFileName(renamed);
    report.EndDocument();
    EXPECT_EQ(ReadFileBytes(path), "old");
    EXPECT_NE(ReadFileBytes(renamed).find("/Count 1\r\n"), std::string::npos);
    EXPECT_TRUE(QpdfCheckPasses(renamed));

    ExpectThrowWithMessage<EInvalidOperation>([&] { report.EndDocument(); }, "document is null..");

    // An aborted document writes nothing.
    report.SetFileName(path);
    report.StartDocument();
    report.PrintPage(page);
    report.AbortDocument();
    EXPECT_EQ(ReadFileBytes(path), "old");
}

TEST(PReportTest, CatalogCarriesTheViewerSettingsAndOutlines)
{
    TTempDir dir;
    TForm form(nullptr);
    auto& report = form.Create<TPReport>();
    auto& page = form.Create<TPRPage>();
    report.SetFileName(dir.File("out.pdf"));
    report.SetUseOutlines(true);
    report.SetPageMode(pmUseOutlines);
    report.SetPageLayout(plTwoColumnLeft);
    report.SetNonFullScreenPageMode(pmUseThumbs);
    report.SetViewerPreference({vpFitWindow, vpHideToolbar});
    report.StartDocument();
    report.PrintPage(page);
    report.EndDocument();

    const std::string pdf = ReadFileBytes(dir.File("out.pdf"));
    EXPECT_EQ(
        ObjectBody(pdf, 1),
        "<<\r\n/Type /Catalog\r\n/Outlines 2 0 R\r\n/Pages 4 0 R\r\n/PageMode /UseOutlines\r\n"
        "/PageLayout /TwoColumnLeft\r\n/ViewerPreferences <<\r\n"
        "/NonFullScreenPageMode /UseThumbs\r\n/HideToolbar true\r\n/FitWindow true\r\n>>\r\n>>");
    std::string output;
    EXPECT_TRUE(QpdfCheckPasses(dir.File("out.pdf"), &output)) << output;
}

TEST(PReportTest, FailedEndDocumentLeavesNothingAndKeepsTheDocument)
{
    TTempDir dir;
    TForm form(nullptr);
    auto& report = form.Create<TPReport>();
    auto& page = form.Create<TPRPage>();
    const std::string path = dir.File("out.pdf");
    WriteFileBytes(path, "old");
    report.SetFileName(path);

    // No page: the document's own refusal, no file, no temporary file, the old file intact.
    report.StartDocument();
    ExpectThrowWithMessage<EPdfInvalidOperation>([&] { report.EndDocument(); },
                                                 "SaveToStream --there is no document to save.");
    EXPECT_EQ(ReadFileBytes(path), "old");
    EXPECT_EQ(EntryCount(dir.Path()), 1);

    // A folder that does not exist.
    const std::string missing = dir.File("no/such/out.pdf");
    report.SetFileName(missing);
    report.PrintPage(page);
    ExpectThrowWithMessage<EFileError>([&] { report.EndDocument(); },
                                       "Cannot create file \"" + missing +
                                           "\": No such file or directory");

    // A directory in the way of the rename.
    const std::string folderInTheWay = dir.File("taken");
    ASSERT_EQ(::mkdir(folderInTheWay.c_str(), 0755), 0);
    report.SetFileName(folderInTheWay);
    ExpectThrowWithMessage<EFileError>([&] { report.EndDocument(); }, "Cannot write file \"" +
                                                                          folderInTheWay +
                                                                          "\": Is a directory");
    EXPECT_EQ(EntryCount(dir.Path()), 2);

    // The document survived every failure.
    report.SetFileName(path);
    report.EndDocument();
    EXPECT_TRUE(QpdfCheckPasses(path));
}

TEST(PReportTest, NameAtTheFileSystemsLimitIsWritten)
{
    // 254 bytes: a valid name, though one with the temporary file's dots and suffix added
    // would not be.
    TTempDir dir;
    TForm form(nullptr);
    auto& report = form.Create<TPReport>();
    auto& page = form.Create<TPRPage>();
    const std::string path = dir.File(std::string(250, 'a') + ".pdf");
    report.SetFileName(path);
    report.StartDocument();
    report.PrintPage(page);
    report.EndDocument();
    EXPECT_TRUE(QpdfCheckPasses(path));
    EXPECT_EQ(EntryCount(dir.Path()), 1);
}

TEST(PReportTest, UnwritableFolderLeavesNothing)
{
    // Root writes into any folder.
    RunUnprivileged([] {
        TTempDir dir;
        TForm form(nullptr);
        auto& report = form.Create<TPReport>();
        auto& page = form.Create<TPRPage>();
        ASSERT_EQ(::chmod(dir.Path().c_str(), 0555), 0);
        report.SetFileName(dir.File("out.pdf"));
        report.StartDocument();
        report.PrintPage(page);
        EXPECT_THROW(report.EndDocument(), EFileError);
        EXPECT_EQ(EntryCount(dir.Path()), 0);
        ::chmod(dir.Path().c_str(), 0755);
    });
}

TEST(PReportTest, WrittenFileTakesTheUsualOrTheReplacedPermissions)
{
    TTempDir dir;
    TForm form(nullptr);
    auto& report = form.Create<TPReport>();
    auto& page = form.Create<TPRPage>();
    const auto write = [&](const std::string& path) {
        report.SetFileName(path);
        report.StartDocument();
        report.PrintPage(page);
        report.EndDocument();
        struct stat info
        {
        };
        EXPECT_EQ(::lstat(path.c_str(), &info), 0);
        EXPECT_TRUE(S_ISREG(info.st_mode));
        return info.st_mode & 0777;
    };
    const mode_t old = ::umask(027);
    EXPECT_EQ(write(dir.File("new.pdf")), 0640U);
    ::umask(old);

    WriteFileBytes(dir.File("kept.pdf"), "old");
    ASSERT_EQ(::chmod(dir.File("kept.pdf").c_str(), 0604), 0);
    EXPECT_EQ(write(dir.File("kept.pdf")), 0604U);

    // A symbolic link is replaced by the file; what it pointed to stays as it was.
    WriteFileBytes(dir.File("target"), "target");
    ASSERT_EQ(::symlink("target", dir.File("link.pdf").c_str()), 0);
    write(dir.File("link.pdf"));
    EXPECT_EQ(ReadFileBytes(dir.File("target")), "target");
    EXPECT_TRUE(QpdfCheckPasses(dir.File("link.pdf")));
}

} // namespace
