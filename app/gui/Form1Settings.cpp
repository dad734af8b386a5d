// The main window's "Save setting" and "Load setting": the document properties and the quality,
// per user, in $XDG_CONFIG_HOME/kestrom/pictova.conf.

#include <QDateEdit>
#include <QLineEdit>
#include <QSettings>
#include <QSlider>
#include <QTimeEdit>

#include "app/convert/SettingsFile.h"
#include "app/gui/Dialogs.h"
#include "app/gui/Form1.h"
#include "app/gui/GuiText.h"
#include "platform/Exceptions.h"
#include "platform/Services.h"

namespace
{

QSettings OpenSettings()
{
    return {QSettings::NativeFormat, QSettings::UserScope,
            QString::fromLatin1(kSettingsOrganization), QString::fromLatin1(kSettingsApplication)};
}

// The date-time a date picker and a time picker show together: the whole days of the one and
// the time of day of the other.
TDateTime Combined(const QDateEdit& date, const QTimeEdit& time)
{
    return CombineDateTime(DateValue(date), TimeValue(time));
}

QByteArray StoredDateTime(TDateTime value)
{
    return QByteArray::fromStdString(DateTimeToSettingBytes(value));
}

// The top-level values as QSettings reads them, in the types the loading rules judge.
TSettingsValues ReadValues(const QSettings& settings)
{
    TSettingsValues values;
    for (const QString& key : settings.childKeys())
    {
        const QVariant value = settings.value(key);
        TSettingsValue read;
        switch (value.typeId())
        {
        case QMetaType::UnknownType:
            continue; // an empty value counts as missing
        case QMetaType::QString:
            read = {TSettingsValue::TType::Text, value.toString().toStdString()};
            break;
        case QMetaType::QByteArray:
            read = {TSettingsValue::TType::Bytes, value.toByteArray().toStdString()};
            break;
        case QMetaType::QStringList:
            read = {TSettingsValue::TType::TextList,
                    value.toStringList().join(QLatin1Char('\n')).toStdString()};
            break;
        default:
            read = {TSettingsValue::TType::Other, value.typeName()};
            break;
        }
        values[key.toStdString()] = std::move(read);
    }
    return values;
}

QString FromUtf8(const std::string& text)
{
    return QString::fromStdString(text);
}

} // namespace

QString TForm1::SettingsFileName()
{
    return OpenSettings().fileName();
}

void TForm1::SaveSettings()
{
    QSettings settings = OpenSettings();
    settings.setValue(QString::fromLatin1(kSettingTitle), Edit1->text());
    settings.setValue(QString::fromLatin1(kSettingAuthor), Edit2->text());
    settings.setValue(QString::fromLatin1(kSettingSubject), Edit3->text());
    settings.setValue(QString::fromLatin1(kSettingKeywords), Edit4->text());
    settings.setValue(QString::fromLatin1(kSettingCreated),
                      StoredDateTime(Combined(*DateTimePicker1, *DateTimePicker2)));
    settings.setValue(QString::fromLatin1(kSettingModified),
                      StoredDateTime(Combined(*DateTimePicker3, *DateTimePicker4)));
    settings.setValue(QString::fromLatin1(kSettingCreator), Edit5->text());
    settings.setValue(QString::fromLatin1(kSettingProducer), Edit6->text());
    settings.setValue(QString::fromLatin1(kSettingQuality), QString::number(TrackBar1->value()));
    settings.sync();
    // Saving is asked for explicitly: a setting that was not kept must not pass for saved.
    if (settings.status() != QSettings::NoError)
        throw Exception("Cannot save the settings to " + PathBytes(settings.fileName()) + ".");
}

void TForm1::LoadSettings()
{
    const QSettings settings = OpenSettings();
    // Loading starts from what the window shows, with the command line's rules: a missing
    // "creator" or "procedure" keeps its text, and a value of the wrong type ends the loading
    // there, leaving the values after it as they were.
    TSavedSettings loaded;
    loaded.Title = Edit1->text().toStdString();
    loaded.Author = Edit2->text().toStdString();
    loaded.Subject = Edit3->text().toStdString();
    loaded.Keywords = Edit4->text().toStdString();
    loaded.Created = Combined(*DateTimePicker1, *DateTimePicker2);
    loaded.Modified = Combined(*DateTimePicker3, *DateTimePicker4);
    loaded.Creator = Edit5->text().toStdString();
    loaded.Producer = Edit6->text().toStdString();
    loaded.Quality = TrackBar1->value();
    std::string failure;
    try
    {
        LoadSavedSettings(ReadValues(settings), Clock().Now(), loaded);
    }
    catch (const ESettingsError& e)
    {
        failure = "Invalid data type in the settings " + PathBytes(settings.fileName()) + ": " +
                  e.what() + ".";
    }
    Edit1->setText(FromUtf8(loaded.Title));
    Edit2->setText(FromUtf8(loaded.Author));
    Edit3->setText(FromUtf8(loaded.Subject));
    Edit4->setText(FromUtf8(loaded.Keywords));
    SetDateTimeValue(*DateTimePicker1, loaded.Created);
    SetDateTimeValue(*DateTimePicker2, loaded.Created);
    SetDateTimeValue(*DateTimePicker3, loaded.Modified);
    SetDateTimeValue(*DateTimePicker4, loaded.Modified);
    Edit5->setText(FromUtf8(loaded.Creator));
    Edit6->setText(FromUtf8(loaded.Producer));
    TrackBar1->setValue(loaded.Quality);
    if (!failure.empty())
        throw Exception(failure);
}

void TForm1::ToolButton8Click()
{
    Guarded(m_dialogs, this, [&] { SaveSettings(); });
}

void TForm1::ToolButton9Click()
{
    Guarded(m_dialogs, this, [&] { LoadSettings(); });
}
