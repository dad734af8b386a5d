#include "tests/gui/GuiTestSupport.h"

#include <QAction>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>

#include "app/gui/Form1.h"

QTableWidget& ListOf(TForm1& form)
{
    return *form.findChild<QTableWidget*>(QStringLiteral("ListView1"));
}

std::vector<std::string> Entries(TForm1& form)
{
    return form.Pictures();
}

int Selected(TForm1& form)
{
    const QModelIndexList rows = ListOf(form).selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void FillList(TForm1& form, const std::vector<std::string>& paths)
{
    form.AddDroppedFiles(paths);
    ListOf(form).clearSelection();
    form.UpdateCommandStates();
}

bool WaitIdle(TForm1& form)
{
    const bool idle =
        QTest::qWaitFor([&] { return !form.PreviewPending() && !form.EstimatePending(); }, 20000);
    QCoreApplication::processEvents();
    return idle;
}

QStringList EnabledCommands(TForm1& form)
{
    const struct
    {
        const char* Button;
        const char* Item;
        const char* Name;
    } commands[] = {
        {"ToolButton3", "Remove1", "Remove"},
        {"ToolButton4", "Removeall1", "Remove all"},
        {"ToolButton5", "Moveup1", "Move up"},
        {"ToolButton6", "Movedown1", "Move down"},
    };
    QStringList enabled;
    for (const auto& command : commands)
    {
        const bool button =
            form.findChild<QToolButton*>(QString::fromLatin1(command.Button))->isEnabled();
        const bool item = form.findChild<QAction*>(QString::fromLatin1(command.Item))->isEnabled();
        if (button != item)
            enabled << QStringLiteral("MISMATCH ") + QString::fromLatin1(command.Name);
        else if (button)
            enabled << QString::fromLatin1(command.Name);
    }
    if (form.findChild<QPushButton*>(QStringLiteral("BitBtn1"))->isEnabled())
        enabled << QStringLiteral("Convert");
    return enabled;
}

QString Q(const std::string& bytes)
{
    return QString::fromStdString(bytes);
}
