// Convert: its checks and messages, the progress window's run, cancel, and the old output file.

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include "app/gui/Form1.h"
#include "app/gui/Form2.h"
#include "tests/convert/TestPictures.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/support/TestSupport.h"

namespace
{

using TPaths = std::vector<std::string>;

const QString kInUse = QStringLiteral(" is opened by other application.\rPlease close it!");

// Presses Cancel in the progress window as soon as it shows, before its run starts.
void CancelAtOnce(TForm1& form)
{
    QTimer::singleShot(0, &form, [&form] {
        if (auto* progress = form.findChild<TForm2*>())
            progress->Button1Click();
    });
}

} // namespace

class TConvertWindowTest : public QObject
{
    Q_OBJECT

private:
    TTempDir m_dir;
    TPaths m_pictures;

private slots:
    void initTestCase()
    {
        m_pictures = {m_dir.File("wide.bmp"), m_dir.File("tall.bmp"), m_dir.File("small.bmp")};
        WriteTestBmp(m_pictures[0], 30, 20, 255, 0, 0);
        WriteTestBmp(m_pictures[1], 10, 40, 0, 255, 0);
        WriteTestBmp(m_pictures[2], 7, 5, 0, 0, 255);
    }

    void EmptyListAsksForPictures()
    {
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        form.BitBtn1Click();
        QCOMPARE(dialogs.Said, QStringList{"message: Please add image files!"});
        QCOMPARE(dialogs.SaveDialogs, 0);
    }

    void CancelledSaveDialogDoesNothing()
    {
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        FillList(form, m_pictures);
        form.BitBtn1Click();
        QCOMPARE(dialogs.SaveDialogs, 1);
        QCOMPARE(dialogs.Said, QStringList());
        QVERIFY(form.findChild<TForm2*>() == nullptr);
        QVERIFY(WaitIdle(form));
    }

    void WritesOnePagePerPictureInListOrder()
    {
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        FillList(form, m_pictures);
        form.findChild<QLineEdit*>(QStringLiteral("Edit1"))->setText(QStringLiteral("Holiday"));
        form.findChild<QSlider*>(QStringLiteral("TrackBar1"))->setValue(90);
        const std::string output = m_dir.File("out.pdf");
        WriteFileBytes(output, "the old file");
        dialogs.SavePath = Q(output);
        form.BitBtn1Click();
        QCOMPARE(dialogs.Said, QStringList{"message: Convert succeeded!"});
        QVERIFY(form.findChild<TForm2*>() == nullptr); // released
        std::string check;
        QVERIFY2(QpdfCheckPasses(output, &check), check.c_str());
        const std::vector<std::pair<int, int>> pages = {{30, 20}, {10, 40}, {7, 5}};
        QCOMPARE(MediaBoxes(output), pages);
        QVERIFY(ReadFileBytes(output).find("(Holiday)") != std::string::npos);
        QVERIFY(WaitIdle(form));
    }

    void PicturesWithoutPageAreNamedAfterSuccess()
    {
        TTempDir dir;
        const std::string gone = dir.File("gone.bmp");
        const std::string broken = dir.File("broken.png");
        WriteTestBmp(gone, 3, 3, 0, 0, 0);
        WriteFileBytes(broken, "not a picture at all");
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        FillList(form, {gone, m_pictures[0], broken});
        QVERIFY(std::remove(gone.c_str()) == 0);
        dialogs.SavePath = Q(dir.File("out.pdf"));
        form.BitBtn1Click();
        QCOMPARE(dialogs.Said.size(), 2);
        QCOMPARE(dialogs.Said[0], QStringLiteral("message: Convert succeeded!"));
        QVERIFY2(dialogs.Said[1].startsWith(QStringLiteral("message: 2 pictures got no page:\n") +
                                            Q(gone) + QStringLiteral(": file not found\n") +
                                            Q(broken) + QStringLiteral(": ")),
                 qPrintable(dialogs.Said[1]));
        QCOMPARE(MediaBoxes(dir.File("out.pdf")).size(), std::size_t{1});
        QVERIFY(WaitIdle(form));
    }

    void CancelKeepsTheOldFile()
    {
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        FillList(form, m_pictures);
        const std::string output = m_dir.File("kept.pdf");
        WriteFileBytes(output, "the old file");
        dialogs.SavePath = Q(output);
        CancelAtOnce(form);
        form.BitBtn1Click();
        QCOMPARE(dialogs.Said, QStringList()); // a cancelled run says nothing
        QCOMPARE(ReadFileBytes(output), std::string("the old file"));
        QVERIFY(form.findChild<TForm2*>() == nullptr);
        QVERIFY(WaitIdle(form));
    }

    // The run has a thread of its own: while a large picture is prepared the window still takes
    // the Cancel click, and the run stops before the next picture, writing nothing.
    void CancelRegistersWhileALargePictureIsPrepared()
    {
        TTempDir dir;
        const std::string large = dir.File("large.bmp");
        WriteTestBmp(large, 3000, 2000, 10, 20, 30);
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        FillList(form, {large, m_pictures[0], m_pictures[1]});
        const std::string output = dir.File("kept.pdf");
        WriteFileBytes(output, "the old file");
        dialogs.SavePath = Q(output);
        int pagesShownAtCancel = -1;
        QTimer::singleShot(0, &form, [&] {
            auto* progress = form.findChild<TForm2*>();
            QVERIFY(progress != nullptr);
            // Connected after the window's own handler: the run has just started.
            connect(progress->Timer1(), &QTimer::timeout, progress, [&, progress] {
                QTimer::singleShot(0, progress, [&, progress] {
                    pagesShownAtCancel = progress->ProgressBar1()->value();
                    progress->Button1Click();
                });
            });
        });
        form.BitBtn1Click();
        QCOMPARE(pagesShownAtCancel, 0);
        QCOMPARE(dialogs.Said, QStringList());
        QCOMPARE(ReadFileBytes(output), std::string("the old file"));
        QVERIFY(WaitIdle(form));
    }

    void FailureShowsItsMessageThenUnsucceededAndKeepsTheOldFile()
    {
        TTempDir dir;
        const std::string broken = dir.File("broken.jpg");
        WriteFileBytes(broken, "no JPEG");
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        FillList(form, {broken});
        const std::string output = dir.File("kept.pdf");
        WriteFileBytes(output, "the old file");
        dialogs.SavePath = Q(output);
        form.BitBtn1Click();
        QCOMPARE(dialogs.Said, (QStringList{"error: No picture could be converted.",
                                            "message: Convert unsucceeded!"}));
        QCOMPARE(ReadFileBytes(output), std::string("the old file"));
        QVERIFY(WaitIdle(form));
    }

    void OutputThatCannotBeReplacedStopsBeforeTheRun()
    {
        TTempDir dir;
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        FillList(form, m_pictures);
        const std::string folder = dir.File("a folder.pdf");
        QVERIFY(QDir().mkdir(Q(folder)));
        dialogs.SavePath = Q(folder);
        form.BitBtn1Click();
        QCOMPARE(dialogs.Said, QStringList{"message: The file " + Q(folder) + kInUse});

        // A folder that does not exist takes no file either.
        dialogs.Said.clear();
        const std::string nowhere = dir.File("missing/out.pdf");
        dialogs.SavePath = Q(nowhere);
        form.BitBtn1Click();
        QCOMPARE(dialogs.Said, QStringList{"message: The file " + Q(nowhere) + kInUse});
        QVERIFY(WaitIdle(form));
    }

    void ProgressWindowShowsTheRunInOrder()
    {
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        FillList(form, m_pictures);
        TForm2 progress(form);
        const std::string output = m_dir.File("watched.pdf");
        progress.Run().SetFileName(output);
        QCOMPARE(progress.windowTitle(), QStringLiteral("Converting ..."));
        QCOMPARE(progress.size(), QSize(379, 106));
        QCOMPARE(progress.Timer1()->interval(), 100);
        QVERIFY(progress.Timer1()->isSingleShot());

        // Every label text the run leaves, in the order the window receives them.
        QStringList seen;
        QTimer watch;
        QString last;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            const QString now =
                progress.Label1()->text() + QStringLiteral(" | ") + progress.Label2()->text();
            if (now != last)
                seen << now;
            last = now;
        });
        progress.Label1()->setText(QStringLiteral("Preparing..."));
        progress.Label2()->setText(QStringLiteral("0%"));
        progress.Timer1()->start();
        QTimer::singleShot(0, &progress, [&] { watch.start(0); });
        QCOMPARE(progress.exec(), 1);
        QCOMPARE(progress.RunResult(), rrWritten);
        QCOMPARE(progress.Label1()->text(), QStringLiteral("page3:") + Q(m_pictures[2]));
        QCOMPARE(progress.Label2()->text(), QStringLiteral("100%"));
        QCOMPARE(progress.ProgressBar1()->maximum(), 3);
        QCOMPARE(progress.ProgressBar1()->value(), 3);
        QVERIFY(!seen.isEmpty());
        QCOMPARE(seen.first(), QStringLiteral("Preparing... | 0%"));
        QVERIFY(QpdfCheckPasses(output));
        QVERIFY(WaitIdle(form));
    }
};

int RunConvertWindowTests(int argc, char** argv)
{
    TConvertWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ConvertWindowTest.moc"
