// The main window as a whole: its frame, names for assistive technology, the quality label and
// the size estimate, the Help menu and the About window.

#include <QAccessible>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include "app/convert/ConversionRun.h"
#include "app/gui/Form1.h"
#include "app/gui/Form4.h"
#include "app/gui/GuiText.h"
#include "tests/convert/TestPictures.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/support/TestSupport.h"

namespace
{

// The size the PDF of the pictures really has at the quality.
std::int64_t ConvertedSize(const std::vector<std::string>& pictures, int quality,
                           const std::string& output)
{
    TQuietObserver quiet;
    TConversionRun run;
    run.SetFileName(output);
    run.Run(pictures, quality, TDocumentProperties{}, quiet);
    return static_cast<std::int64_t>(ReadFileBytes(output).size());
}

// "about 12.4 MB" / "about 350 kB" in bytes.
double AboutBytes(const QString& text)
{
    const QStringList words = text.split(QLatin1Char(' '));
    if (words.size() != 3 || words[0] != QStringLiteral("about"))
        return -1;
    const double unit = words[2] == QStringLiteral("kB")   ? 1e3
                        : words[2] == QStringLiteral("MB") ? 1e6
                                                           : 1e9;
    return words[1].toDouble() * unit;
}

} // namespace

class TMainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void HasTheFixedClientAreaAndItsTexts()
    {
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.windowTitle(), QStringLiteral("Kestrom Pictova"));
        QCOMPARE(form.width(), 738);
        QCOMPARE(form.height() - form.menuBar()->height(), 539);
        QCOMPARE(form.minimumSize(), form.maximumSize());
        QCOMPARE(form.findChild<QLabel*>(QStringLiteral("Image1"))->size(), QSize(313, 143));
        QCOMPARE(form.findChild<QLabel*>(QStringLiteral("StatusPanel2"))->text(),
                 QStringLiteral("www.kestrom.example"));
        QCOMPARE(form.findChild<QLabel*>(QStringLiteral("StatusPanel1"))->text(),
                 QStringLiteral("Tips: You can drag and drop image files to File list. You can "
                                "drag and drop File list item to adjust image order."));
        QVERIFY(!form.findChild<QPushButton*>(QStringLiteral("BitBtn1"))->isEnabled());
        // Every control lies inside the window.
        for (QWidget* child : form.findChildren<QWidget*>())
            if (child->isVisible() && child->window() == &form)
                QVERIFY2(QRect(QPoint(0, 0), form.size())
                             .contains(QRect(child->mapTo(&form, QPoint(0, 0)), child->size())),
                         qPrintable(child->objectName()));
    }

    void EveryControlHasAnAccessibleName()
    {
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        int named = 0;
        for (QWidget* child : form.findChildren<QWidget*>())
        {
            if (!child->isVisible() || child->focusPolicy() == Qt::NoFocus ||
                child->objectName().startsWith(QStringLiteral("qt_")) ||
                child->objectName().isEmpty())
                continue;
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(child);
            QVERIFY(accessible != nullptr);
            QVERIFY2(!accessible->text(QAccessible::Name).isEmpty(),
                     qPrintable(child->objectName()));
            ++named;
        }
        QVERIFY(named >= 20);
        for (const char* name : {"ToolButton1", "ToolButton8", "BitBtn1", "BitBtn3"})
        {
            QWidget* widget = form.findChild<QWidget*>(QString::fromLatin1(name));
            QVERIFY(
                !QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name).isEmpty());
        }
    }

    void QualityLabelFollowsTheSlider()
    {
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        auto* slider = form.findChild<QSlider*>(QStringLiteral("TrackBar1"));
        auto* label = form.findChild<QLabel*>(QStringLiteral("Label1"));
        QCOMPARE(slider->minimum(), 1);
        QCOMPARE(slider->maximum(), 100);
        slider->setValue(1);
        QCOMPARE(label->text(), QStringLiteral("1%"));
        slider->setValue(100);
        QCOMPARE(label->text(), QStringLiteral("100%"));
        slider->setValue(150);
        QCOMPARE(label->text(), QStringLiteral("100%"));
    }

    void EstimateIsCloseToTheRealSize()
    {
        TTempDir dir;
        std::vector<std::string> pictures;
        for (int i = 0; i < 3; ++i)
        {
            pictures.push_back(dir.File("p" + std::to_string(i) + ".bmp"));
            WriteTestBmp(pictures.back(), 200 + 50 * i, 150, 40 * i, 200, 90);
        }
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        auto* estimate = form.findChild<QLabel*>(QStringLiteral("Label10"));
        QVERIFY(WaitIdle(form));
        QCOMPARE(estimate->text(), QString()); // nothing listed, nothing to weigh
        FillList(form, pictures);
        form.findChild<QSlider*>(QStringLiteral("TrackBar1"))->setValue(85);
        QVERIFY(WaitIdle(form));
        const double shown = AboutBytes(estimate->text());
        const auto real = static_cast<double>(ConvertedSize(pictures, 85, dir.File("real.pdf")));
        QVERIFY2(std::abs(shown - real) <= 0.02 * real + 500,
                 qPrintable(estimate->text() + QStringLiteral(" for ") + QString::number(real)));

        form.ToolButton4Click();
        QVERIFY(WaitIdle(form));
        QCOMPARE(estimate->text(), QString());
    }

    void HelpMenuOpensTheLinks()
    {
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        form.Helponline1Click();
        form.Kestromswebsite1Click();
        form.Emailsupport1Click();
        QCOMPARE(dialogs.Opened.size(), 3);
        QCOMPARE(dialogs.Opened[0].toString(),
                 QStringLiteral("https://www.kestrom.example/pictova/help/"));
        QCOMPARE(dialogs.Opened[1].toString(), QStringLiteral("https://www.kestrom.example/"));
        QCOMPARE(dialogs.Opened[2].toString(),
                 QStringLiteral("mailto:support@kestrom.example?subject=Kestrom Pictova"));
        QCOMPARE(dialogs.Said, QStringList());

        dialogs.OpenResult = false;
        form.Kestromswebsite1Click();
        QCOMPARE(dialogs.Said.size(), 1);
        QVERIFY(dialogs.Said[0].startsWith(
            QStringLiteral("message: Cannot open https://www.kestrom.example/")));
    }

    void HelpOpensTheProgramsOwnPage()
    {
        const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/help");
        const QString page = folder + QStringLiteral("/index.html");
        const bool made = !QFile::exists(page);
        if (made)
        {
            QVERIFY(QDir().mkpath(folder));
            WriteFileBytes(PathBytes(page), "<html></html>");
        }
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        form.Help2Click();
        if (made)
            QFile::remove(page);
        QCOMPARE(dialogs.Opened.size(), 1);
        QCOMPARE(dialogs.Opened[0], QUrl::fromLocalFile(QFileInfo(page).absoluteFilePath()));
    }

    void AboutShowsTheProductAndItsLinks()
    {
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        TForm4& about = form.Form4();
        QCOMPARE(about.windowTitle(), QStringLiteral("About"));
        QCOMPARE(about.findChild<QLabel*>(QStringLiteral("ProductName"))->text(),
                 QStringLiteral("Kestrom Pictova"));
        about.CommentsClick();
        about.Label5Click();
        QCOMPARE(dialogs.Opened.size(), 2);
        QCOMPARE(dialogs.Opened[0].toString(),
                 QStringLiteral("mailto:support@kestrom.example?subject=Kestrom Pictova"));
        QCOMPARE(dialogs.Opened[1].toString(), QStringLiteral("https://www.kestrom.example/"));

        bool shown = false;
        QTimer::singleShot(0, &about, [&] {
            shown = about.isVisible();
            about.findChild<QPushButton*>(QStringLiteral("OKButton"))->click();
        });
        form.about1Click();
        QVERIFY(shown);
        QVERIFY(!about.isVisible());
    }
};

int RunMainWindowTests(int argc, char** argv)
{
    TMainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "MainWindowTest.moc"
