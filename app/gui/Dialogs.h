#pragma once

#include <exception>
#include <optional>

#include <QString>
#include <QStringList>
#include <QUrl>

class QWidget;

// What the windows ask of the user and of the desktop through standard dialogs: message boxes,
// the open, folder and save dialogs, and opening a link with the desktop's handler. Behind an
// interface so tests answer in place of a person.
class IDialogs
{
public:
    virtual ~IDialogs() = default;

    // A plain message box with an OK button; the text exactly as given.
    virtual void ShowMessage(QWidget* owner, const QString& text) = 0;
    // The application's general error display: a failure's message.
    virtual void ShowError(QWidget* owner, const QString& text) = 0;
    // The Add-files dialog: several existing files; empty when cancelled. filter is the
    // accepted-type text ("description|patterns|...").
    virtual QStringList OpenPictureFiles(QWidget* owner, const QString& filter) = 0;
    // The folder browser; nothing when cancelled.
    virtual std::optional<QString> SelectFolder(QWidget* owner, const QString& title) = 0;
    // The save dialog for the PDF (extension ".pdf", filter "PDF File|*.pdf", asks before
    // replacing a file); nothing when cancelled.
    virtual std::optional<QString> SavePdfFile(QWidget* owner) = 0;
    // Opens a document or link with the desktop's handler; false when that failed.
    virtual bool OpenUrl(const QUrl& url) = 0;
};

// The real dialogs of the desktop. Each file dialog starts in the folder last used.
class TQtDialogs : public IDialogs
{
public:
    void ShowMessage(QWidget* owner, const QString& text) override;
    void ShowError(QWidget* owner, const QString& text) override;
    QStringList OpenPictureFiles(QWidget* owner, const QString& filter) override;
    std::optional<QString> SelectFolder(QWidget* owner, const QString& title) override;
    std::optional<QString> SavePdfFile(QWidget* owner) override;
    bool OpenUrl(const QUrl& url) override;

private:
    QString m_lastFolder;
};

// An accepted-type text "description|patterns|description|patterns..." (patterns joined by
// ";") as the name filters of a Qt file dialog, which reads the patterns from the parentheses
// at the end of each entry: where a description lists other patterns than its entry holds, the
// entry's own take their place.
QStringList NameFilters(const QString& filter);

// Runs a window's handler; a failure that leaves it is shown by the general error display
// with its own message. Nothing escapes into the event loop.
template <class THandler>
void Guarded(IDialogs& dialogs, QWidget* owner, THandler&& handler)
{
    try
    {
        handler();
    }
    catch (const std::exception& e)
    {
        dialogs.ShowError(owner, QString::fromLocal8Bit(e.what()));
    }
    catch (...)
    {
        dialogs.ShowError(owner, QStringLiteral("Unknown error"));
    }
}
