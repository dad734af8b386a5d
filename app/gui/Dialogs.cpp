#include "app/gui/Dialogs.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>

#include "app/gui/Addresses.h"

namespace
{

// A message box names the application, as every message of the program does.
void ShowBox(QWidget* owner, QMessageBox::Icon icon, const QString& text)
{
    QMessageBox box(icon, QString::fromUtf8(kApplicationTitle), QString(), QMessageBox::Ok, owner);
    // A lone carriage return separates lines in our messages; the label breaks only at a line
    // feed.
    QString shown = text;
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    box.setText(shown);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace

void TQtDialogs::ShowMessage(QWidget* owner, const QString& text)
{
    ShowBox(owner, QMessageBox::NoIcon, text);
}

void TQtDialogs::ShowError(QWidget* owner, const QString& text)
{
    ShowBox(owner, QMessageBox::Critical, text);
}

QStringList TQtDialogs::OpenPictureFiles(QWidget* owner, const QString& filter)
{
    QFileDialog dialog(owner, QStringLiteral("Add files"), m_lastFolder);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(NameFilters(filter));
    if (dialog.exec() != QDialog::Accepted)
        return {};
    QStringList chosen = dialog.selectedFiles();
    if (!chosen.isEmpty())
        m_lastFolder = QFileInfo(chosen.first()).absolutePath();
    return chosen;
}

std::optional<QString> TQtDialogs::SelectFolder(QWidget* owner, const QString& title)
{
    const QString folder = QFileDialog::getExistingDirectory(owner, title, m_lastFolder);
    if (folder.isEmpty())
        return std::nullopt;
    m_lastFolder = folder;
    return folder;
}

std::optional<QString> TQtDialogs::SavePdfFile(QWidget* owner)
{
    QFileDialog dialog(owner, QStringLiteral("Save PDF"), m_lastFolder);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("pdf"));
    dialog.setNameFilters(NameFilters(QStringLiteral("PDF File|*.pdf")));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const QString path = dialog.selectedFiles().first();
    m_lastFolder = QFileInfo(path).absolutePath();
    return path;
}

bool TQtDialogs::OpenUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

QStringList NameFilters(const QString& filter)
{
    static const QRegularExpression trailingPatterns(QStringLiteral("\\s*\\(([^()]*)\\)$"));
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
    {
        const QString& description = parts[i];
        const QString patterns = parts[i + 1].split(QLatin1Char(';')).join(QLatin1Char(' '));
        const QRegularExpressionMatch shown = trailingPatterns.match(description);
        if (shown.hasMatch() && shown.captured(1) == patterns)
            filters << description;
        else
            filters << description.left(shown.hasMatch() ? shown.capturedStart()
                                                         : description.size()) +
                           QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return filters;
}
