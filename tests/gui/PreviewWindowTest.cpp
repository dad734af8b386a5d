// The preview box: what it draws for the selected entry, and entries whose file holds no picture.

#include <QCoreApplication>
#include <QLabel>
#include <QPixmap>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>

#include "app/convert/Preview.h"
#include "app/gui/Form1.h"
#include "app/gui/GuiText.h"
#include "app/imaging/ImagePreparation.h"
#include "platform/Stream.h"
#include "tests/convert/TestPictures.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/support/TestSupport.h"

namespace
{

using TPaths = std::vector<std::string>;

QImage PreviewImage(TForm1& form)
{
    return form.findChild<QLabel*>(QStringLiteral("Image1"))->pixmap().toImage();
}

} // namespace

class TPreviewWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void SelectedPictureFillsTheBoxInItsLimitingDirection()
    {
        TTempDir dir;
        const std::string wide = dir.File("wide.bmp");
        WriteTestBmp(wide, 30, 20, 255, 0, 0);
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        FillList(form, {wide});
        ListOf(form).selectRow(0);
        QVERIFY(WaitIdle(form));
        const QImage image = PreviewImage(form);
        QCOMPARE(image.size(), QSize(313, 143));
        // The box's height limits: the picture fills it from top to bottom, centred, with white
        // beside it.
        const TPreviewGeometry at = PreviewGeometry(30, 20);
        QCOMPARE(at.Height, 143);
        QCOMPARE(at.Y, 0);
        QCOMPARE(image.pixelColor(at.X - 1, 70), QColor(Qt::white));
        QCOMPARE(image.pixelColor(at.X, 0), QColor(Qt::red));
        QCOMPARE(image.pixelColor(at.X + at.Width - 1, 142), QColor(Qt::red));
        QCOMPARE(image.pixelColor(at.X + at.Width, 70), QColor(Qt::white));
    }

    void EntryWithoutPictureIsRemovedQuietly()
    {
        TTempDir dir;
        const std::string good = dir.File("good.bmp");
        const std::string text = dir.File("text.png");
        WriteTestBmp(good, 10, 10, 0, 0, 255);
        WriteFileBytes(text, "a text file, not a picture");
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        FillList(form, {good, text});
        ListOf(form).selectRow(0);
        QVERIFY(WaitIdle(form));
        const QImage before = PreviewImage(form);

        ListOf(form).selectRow(1);
        QVERIFY(WaitIdle(form));
        QCOMPARE(Entries(form), TPaths{good});
        QCOMPARE(dialogs.Said, QStringList()); // no message box
        QVERIFY(form.statusBar()->currentMessage().contains(Q(text)));
        QCOMPARE(EnabledCommands(form), (QStringList{"Remove all", "Convert"}));
        QCOMPARE(PreviewImage(form), before);
    }

    void MissingFileLeavesEntryAndPreview()
    {
        TTempDir dir;
        const std::string good = dir.File("good.bmp");
        const std::string gone = dir.File("gone.bmp");
        WriteTestBmp(good, 10, 10, 0, 0, 255);
        WriteTestBmp(gone, 10, 10, 255, 0, 0);
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        FillList(form, {good, gone});
        QVERIFY(std::remove(gone.c_str()) == 0);
        ListOf(form).selectRow(0);
        QVERIFY(WaitIdle(form));
        const QImage before = PreviewImage(form);
        ListOf(form).selectRow(1);
        QVERIFY(WaitIdle(form));
        QCOMPARE(Entries(form), (TPaths{good, gone}));
        QCOMPARE(PreviewImage(form), before);

        // Remove all clears nothing in the preview either.
        form.ToolButton4Click();
        QVERIFY(WaitIdle(form));
        QCOMPARE(PreviewImage(form), before);
    }

    // "prexiew.jpg" beside the program fills the preview at start-up, and is only read.
    void PictureBesideTheProgramShowsAtStart()
    {
        TTempDir dir;
        WriteTestBmp(dir.File("green.bmp"), 40, 20, 0, 255, 0);
        TMemoryStream jpeg;
        ReencodeAsJpeg(dir.File("green.bmp"), 95, jpeg);
        const std::string beside =
            PathBytes(QCoreApplication::applicationDirPath()) + "/prexiew.jpg";
        WriteFileBytes(beside, jpeg.Bytes());
        struct TRemover
        {
            std::string Path;
            ~TRemover() { std::remove(Path.c_str()); }
        } remover{beside};

        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        QVERIFY(WaitIdle(form));
        const QImage image = PreviewImage(form);
        QCOMPARE(image.size(), QSize(313, 143));
        const QColor middle = image.pixelColor(156, 71);
        QVERIFY2(middle.green() > 240 && middle.red() < 16 && middle.blue() < 16,
                 qPrintable(middle.name()));
        QCOMPARE(image.pixelColor(5, 71), QColor(Qt::white)); // 286 x 143 leaves white beside
        QCOMPARE(ReadFileBytes(beside), jpeg.Bytes());
        QCOMPARE(Entries(form), TPaths{});
    }
};

int RunPreviewWindowTests(int argc, char** argv)
{
    TPreviewWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "PreviewWindowTest.moc"
