// The list of the main window: the ways in, the commands, dragging, and which commands are
// enabled after each change.

#include <QAction>
#include <QMimeData>
#include <QTableWidget>
#include <QTest>

#include "app/gui/Form1.h"
#include "app/gui/ListView.h"
#include "tests/convert/TestPictures.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/support/TestSupport.h"

namespace
{

using TPaths = std::vector<std::string>;

// Drops mime data on the list's viewport at a point, as a drag from another program would (no
// drag runs in this process, so the drop has no source here).
bool Drop(TForm1& form, QMimeData& data, QPoint point)
{
    QWidget* target = ListOf(form).viewport();
    QDragEnterEvent enter(point, Qt::MoveAction | Qt::CopyAction, &data, Qt::LeftButton,
                          Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(point), Qt::MoveAction | Qt::CopyAction, &data, Qt::LeftButton,
                    Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

} // namespace

class TFileListWindowTest : public QObject
{
    Q_OBJECT

private:
    TTempDir m_dir;
    TPaths m_pictures; // five small pictures p0..p4

    std::string Picture(int i) const { return m_pictures[static_cast<std::size_t>(i)]; }

private slots:
    void initTestCase()
    {
        for (int i = 0; i < 5; ++i)
        {
            m_pictures.push_back(m_dir.File("p" + std::to_string(i) + ".bmp"));
            WriteTestBmp(m_pictures.back(), 4 + i, 3, 200, 10 * i, 0);
        }
    }

    void StartsEmptyWithOnlyAddingEnabled()
    {
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        QCOMPARE(EnabledCommands(form), QStringList());
        QVERIFY(form.findChild<QAction*>(QStringLiteral("Addfiles1"))->isEnabled());
    }

    void AddFilesAppendsPresentNewFilesAndSelectsTheLast()
    {
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        dialogs.FilesToOpen = {Q(Picture(1)), Q(Picture(0)), Q(m_dir.File("gone.bmp")),
                               Q(Picture(1))};
        form.ToolButton1Click();
        QCOMPARE(dialogs.Filter.left(6), QStringLiteral("All (*"));
        QCOMPARE(Entries(form), (TPaths{Picture(1), Picture(0)}));
        QCOMPARE(Selected(form), 1);
        QCOMPARE(EnabledCommands(form),
                 (QStringList{"Remove", "Remove all", "Move up", "Convert"}));

        // Every chosen file already listed: still the last entry is selected.
        ListOf(form).selectRow(0);
        dialogs.FilesToOpen = {Q(Picture(0))};
        form.Addfiles1Click();
        QCOMPARE(Entries(form).size(), std::size_t{2});
        QCOMPARE(Selected(form), 1);

        // Another letter case is another path.
        const std::string upper = m_dir.File("P0.bmp");
        WriteTestBmp(upper, 2, 2, 0, 0, 0);
        dialogs.FilesToOpen = {Q(upper)};
        form.ToolButton1Click();
        QCOMPARE(Entries(form), (TPaths{Picture(1), Picture(0), upper}));

        // Cancelled: nothing changes.
        dialogs.FilesToOpen = {};
        form.ToolButton1Click();
        QCOMPARE(Entries(form).size(), std::size_t{3});
        QVERIFY(WaitIdle(form));
    }

    void AddFolderTakesOnlyAcceptedFilesInNameOrder()
    {
        TTempDir folder;
        WriteTestBmp(folder.File("img10.JPG"), 2, 2, 0, 0, 0);
        WriteTestBmp(folder.File("img2.jpe"), 2, 2, 0, 0, 0);
        WriteFileBytes(folder.File("b.txt"), "x");
        WriteFileBytes(folder.File("~$c.jpg"), "x");
        WriteFileBytes(folder.File("d"), "x");
        WriteFileBytes(folder.File("x.jp2"), "x");
        QVERIFY(QDir().mkdir(Q(folder.File("sub.png"))));

        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        dialogs.Folder = Q(folder.Path() + "/");
        form.ToolButton2Click();
        QCOMPARE(dialogs.FolderTitle, QStringLiteral("Please select folder"));
        QCOMPARE(Entries(form), (TPaths{folder.File("img2.jpe"), folder.File("img10.JPG")}));
        QCOMPARE(Selected(form), 1);
        QCOMPARE(EnabledCommands(form),
                 (QStringList{"Remove", "Remove all", "Move up", "Convert"}));

        // Again: everything is listed already, nothing is added and the selection stays.
        ListOf(form).selectRow(0);
        form.Addfolder1Click();
        QCOMPARE(Entries(form).size(), std::size_t{2});
        QCOMPARE(Selected(form), 0);

        // A folder that cannot be read says so.
        dialogs.Folder = Q(folder.File("missing"));
        form.ToolButton2Click();
        QCOMPARE(dialogs.Said.size(), 1);
        QVERIFY(dialogs.Said[0].startsWith(QStringLiteral("error: Cannot read the folder ")));
        QVERIFY(WaitIdle(form));
    }

    void DroppedFilesPassTheChecks()
    {
        TTempDir folder;
        const std::string good = folder.File("a.Gif");
        WriteTestBmp(good, 2, 2, 0, 0, 0); // the extension decides, not the content
        const std::string text = folder.File("b.txt");
        WriteFileBytes(text, "x");
        const std::string lock = folder.File("~$c.png");
        WriteFileBytes(lock, "x");
        const std::string sub = folder.File("sub.png");
        QVERIFY(QDir().mkdir(Q(sub)));

        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(Q(Picture(2))), QUrl::fromLocalFile(Q(text)),
                      QUrl::fromLocalFile(Q(lock)), QUrl::fromLocalFile(Q(sub)),
                      QUrl(QStringLiteral("https://www.kestrom.example/x.png")),
                      QUrl::fromLocalFile(Q(good)), QUrl::fromLocalFile(Q(Picture(2)))});
        QVERIFY(Drop(form, data, QPoint(5, 5)));
        QCOMPARE(Entries(form), (TPaths{Picture(2), good}));
        QCOMPARE(Selected(form), 1);

        // Only duplicates and refusals: nothing added, the selection stays.
        ListOf(form).selectRow(0);
        QMimeData again;
        again.setUrls({QUrl::fromLocalFile(Q(good)), QUrl::fromLocalFile(Q(sub))});
        QVERIFY(Drop(form, again, QPoint(5, 5)));
        QCOMPARE(Entries(form).size(), std::size_t{2});
        QCOMPARE(Selected(form), 0);

        // Text is no file drop.
        QMimeData words;
        words.setText(Q(Picture(3)));
        QVERIFY(!Drop(form, words, QPoint(5, 5)));
        QCOMPARE(Entries(form).size(), std::size_t{2});
        QVERIFY(WaitIdle(form));
    }

    void RemoveSelectsThePreviousEntry()
    {
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        FillList(form, {Picture(0), Picture(1), Picture(2)});
        QCOMPARE(EnabledCommands(form), (QStringList{"Remove all", "Convert"}));

        form.ToolButton3Click(); // nothing selected: nothing removed
        QCOMPARE(Entries(form).size(), std::size_t{3});

        ListOf(form).selectRow(2);
        form.Remove1Click();
        QCOMPARE(Entries(form), (TPaths{Picture(0), Picture(1)}));
        QCOMPARE(Selected(form), 1);

        ListOf(form).selectRow(0);
        form.ToolButton3Click();
        QCOMPARE(Entries(form), (TPaths{Picture(1)}));
        QCOMPARE(Selected(form), -1); // nothing after removing the first
        QCOMPARE(EnabledCommands(form), (QStringList{"Remove all", "Convert"}));

        // One entry, selected: no moving.
        ListOf(form).selectRow(0);
        QCOMPARE(EnabledCommands(form), (QStringList{"Remove", "Remove all", "Convert"}));

        form.Removeall1Click();
        QCOMPARE(Entries(form).size(), std::size_t{0});
        QCOMPARE(EnabledCommands(form), QStringList());
        QVERIFY(WaitIdle(form));
    }

    void MoveUpAndDownStopAtTheEnds()
    {
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        FillList(form, {Picture(0), Picture(1), Picture(2)});
        ListOf(form).selectRow(0);
        QCOMPARE(EnabledCommands(form),
                 (QStringList{"Remove", "Remove all", "Move down", "Convert"}));
        form.ToolButton5Click(); // at the top: nothing
        QCOMPARE(Entries(form), (TPaths{Picture(0), Picture(1), Picture(2)}));

        form.ToolButton6Click();
        QCOMPARE(Entries(form), (TPaths{Picture(1), Picture(0), Picture(2)}));
        QCOMPARE(Selected(form), 1);
        QCOMPARE(EnabledCommands(form),
                 (QStringList{"Remove", "Remove all", "Move up", "Move down", "Convert"}));
        form.Movedown1Click();
        QCOMPARE(Entries(form), (TPaths{Picture(1), Picture(2), Picture(0)}));
        QCOMPARE(Selected(form), 2);
        QCOMPARE(EnabledCommands(form),
                 (QStringList{"Remove", "Remove all", "Move up", "Convert"}));
        form.ToolButton6Click(); // at the bottom: nothing
        QCOMPARE(Selected(form), 2);

        form.Moveup1Click();
        QCOMPARE(Entries(form), (TPaths{Picture(1), Picture(0), Picture(2)}));
        QCOMPARE(Selected(form), 1);
        QVERIFY(WaitIdle(form));
    }

    void DragLandsBeforeTheEntryDroppedOn_data()
    {
        QTest::addColumn<int>("dragged");
        QTest::addColumn<int>("target"); // -1: below the last entry
        QTest::addColumn<QList<int>>("order");
        QTest::newRow("1 onto 4") << 1 << 4 << QList<int>{0, 2, 3, 1, 4};
        QTest::newRow("4 onto 1") << 4 << 1 << QList<int>{0, 4, 1, 2, 3};
        QTest::newRow("onto itself") << 2 << 2 << QList<int>{0, 1, 2, 3, 4};
        QTest::newRow("onto the next") << 2 << 3 << QList<int>{0, 1, 2, 3, 4};
        QTest::newRow("0 below the last") << 0 << -1 << QList<int>{1, 2, 3, 4, 0};
        QTest::newRow("last below the last") << 4 << -1 << QList<int>{0, 1, 2, 3, 4};
    }

    void DragLandsBeforeTheEntryDroppedOn()
    {
        QFETCH(int, dragged);
        QFETCH(int, target);
        QFETCH(QList<int>, order);
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        form.resize(form.size());
        FillList(form, m_pictures);
        QTableWidget& list = ListOf(form);
        list.selectRow(dragged);
        const int y = target >= 0 ? list.rowViewportPosition(target) + 2
                                  : list.rowViewportPosition(4) + list.rowHeight(4) + 10;
        QVERIFY(list.rowAt(y) == target);
        QMimeData data;
        data.setData(QString::fromLatin1(kEntryMimeType), QByteArray::number(dragged));
        // An entry drag counts only when it comes from the list itself; the handler is what a
        // drop from the list runs.
        form.ListView1EndDrag(QPoint(5, y));
        TPaths expected;
        for (int i : order)
            expected.push_back(Picture(i));
        QCOMPARE(Entries(form), expected);
        QCOMPARE(Selected(form), order.indexOf(dragged));
        QVERIFY(WaitIdle(form));
    }

    void EntryDragsFromOutsideAreRefused()
    {
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        FillList(form, {Picture(0), Picture(1)});
        ListOf(form).selectRow(0);
        QMimeData data;
        data.setData(QString::fromLatin1(kEntryMimeType), QByteArray::number(0));
        QVERIFY(!Drop(form, data, QPoint(5, 5)));
        QCOMPARE(Entries(form), (TPaths{Picture(0), Picture(1)}));
        QVERIFY(WaitIdle(form));
    }

    void KeyboardDrivesTheList()
    {
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        FillList(form, {Picture(0), Picture(1), Picture(2)});
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QTableWidget& list = ListOf(form);
        list.setFocus();
        list.selectRow(0);

        QTest::keyClick(&list, Qt::Key_Down, Qt::ControlModifier);
        QCOMPARE(Entries(form), (TPaths{Picture(1), Picture(0), Picture(2)}));
        QCOMPARE(Selected(form), 1);
        QTest::keyClick(&list, Qt::Key_Up, Qt::ControlModifier);
        QCOMPARE(Entries(form), (TPaths{Picture(0), Picture(1), Picture(2)}));
        QTest::keyClick(&list, Qt::Key_Down); // plain arrows move the selection
        QCOMPARE(Selected(form), 1);
        QTest::keyClick(&list, Qt::Key_Delete);
        QCOMPARE(Entries(form), (TPaths{Picture(0), Picture(2)}));

        dialogs.FilesToOpen = {Q(Picture(4))};
        QTest::keyClick(&form, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(Entries(form), (TPaths{Picture(0), Picture(2), Picture(4)}));
        QVERIFY(WaitIdle(form));
    }
};

int RunFileListWindowTests(int argc, char** argv)
{
    TFileListWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "FileListWindowTest.moc"
