#pragma once

#include <optional>
#include <string>
#include <vector>

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include "app/gui/Dialogs.h"

class TForm1;
class QTableWidget;

// Answers the dialogs in place of a person and records what the program said.
class TFakeDialogs : public IDialogs
{
public:
    void ShowMessage(QWidget*, const QString& text) override
    {
        Said << QStringLiteral("message: ") + text;
    }
    void ShowError(QWidget*, const QString& text) override
    {
        Said << QStringLiteral("error: ") + text;
    }
    QStringList OpenPictureFiles(QWidget*, const QString& filter) override
    {
        Filter = filter;
        return FilesToOpen;
    }
    std::optional<QString> SelectFolder(QWidget*, const QString& title) override
    {
        FolderTitle = title;
        return Folder;
    }
    std::optional<QString> SavePdfFile(QWidget*) override
    {
        ++SaveDialogs;
        return SavePath;
    }
    bool OpenUrl(const QUrl& url) override
    {
        Opened << url;
        return OpenResult;
    }

    // What the next dialog answers.
    QStringList FilesToOpen;
    std::optional<QString> Folder;
    std::optional<QString> SavePath;
    bool OpenResult = true;

    // What happened.
    QStringList Said; // "message: ..." and "error: ..." in order
    QString Filter;
    QString FolderTitle;
    int SaveDialogs = 0;
    QList<QUrl> Opened;
};

// The list control of the window.
QTableWidget& ListOf(TForm1& form);
// The entries' paths in order.
std::vector<std::string> Entries(TForm1& form);
// The index of the selected entry, -1 for none.
int Selected(TForm1& form);
// Fills the list through the drop route, selecting nothing afterwards.
void FillList(TForm1& form, const std::vector<std::string>& paths);
// Waits until no preview or estimate is being worked out and their results have arrived.
bool WaitIdle(TForm1& form);
// Names of the enabled commands among Remove, Remove all, Move up, Move down and Convert,
// checking that each toolbar button agrees with its popup item.
QStringList EnabledCommands(TForm1& form);

QString Q(const std::string& bytes);
