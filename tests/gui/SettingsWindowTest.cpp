// "Save setting" and "Load setting": the settings file's values, their types, and what loading
// does with missing or malformed ones.

#include <cmath>
#include <cstring>

#include <QDateEdit>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QSlider>
#include <QTest>
#include <QTimeEdit>

#include "app/convert/SettingsFile.h"
#include "app/gui/Form1.h"
#include "app/gui/GuiText.h"
#include "platform/DateTime.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/support/TestSupport.h"

namespace
{

QSettings Stored()
{
    return {QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("kestrom"),
            QStringLiteral("pictova")};
}

template <class T>
T* Find(TForm1& form, const char* name)
{
    return form.findChild<T*>(QString::fromLatin1(name));
}

QString EditText(TForm1& form, const char* name)
{
    return Find<QLineEdit>(form, name)->text();
}

TDateTime Shown(TForm1& form, const char* datePicker, const char* timePicker)
{
    return CombineDateTime(DateValue(*Find<QDateEdit>(form, datePicker)),
                           TimeValue(*Find<QTimeEdit>(form, timePicker)));
}

} // namespace

class TSettingsWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QSettings settings = Stored();
        settings.clear();
        settings.sync();
    }

    void cleanupTestCase() { init(); }

    void LivesInTheUsersConfigFolder()
    {
        QCOMPARE(TForm1::SettingsFileName(), QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")) +
                                                 QStringLiteral("/kestrom/pictova.conf"));
    }

    void FirstStartShowsDefaultsAndTheCurrentTime()
    {
        const TDateTime now = EncodeDateTime(2025, 3, 4, 5, 6, 7);
        ScopedClock clock(now);
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        QCOMPARE(EditText(form, "Edit1"), QString());
        QCOMPARE(EditText(form, "Edit5"), QStringLiteral("Kestrom Pictova"));
        QCOMPARE(EditText(form, "Edit6"), QStringLiteral("Kestrom Pictova"));
        QCOMPARE(Shown(form, "DateTimePicker1", "DateTimePicker2"), now);
        QCOMPARE(Shown(form, "DateTimePicker3", "DateTimePicker4"), now);
        QCOMPARE(form.Quality(), 60);
        QCOMPARE(Find<QLabel>(form, "Label1")->text(), QStringLiteral("60%"));
        QCOMPARE(dialogs.Said, QStringList());
        QVERIFY(!QFile::exists(TForm1::SettingsFileName())); // reading writes nothing
    }

    void SaveStoresTheValuesAndLoadBringsThemBack()
    {
        TFakeDialogs dialogs;
        {
            TForm1 form(dialogs);
            Find<QLineEdit>(form, "Edit1")->setText(QStringLiteral("Title, with comma"));
            Find<QLineEdit>(form, "Edit2")->setText(QStringLiteral("Ann\u00e9e"));
            Find<QLineEdit>(form, "Edit3")->setText(QStringLiteral("@subject"));
            Find<QLineEdit>(form, "Edit4")->setText(QStringLiteral("a b c"));
            Find<QDateEdit>(form, "DateTimePicker1")->setDate(QDate(2024, 1, 2));
            Find<QTimeEdit>(form, "DateTimePicker2")->setTime(QTime(13, 30));
            Find<QDateEdit>(form, "DateTimePicker3")->setDate(QDate(1899, 12, 30));
            Find<QTimeEdit>(form, "DateTimePicker4")->setTime(QTime(6, 0));
            Find<QLineEdit>(form, "Edit5")->setText(QStringLiteral("App"));
            Find<QLineEdit>(form, "Edit6")->setText(QString());
            Find<QSlider>(form, "TrackBar1")->setValue(1);
            form.ToolButton8Click();
        }
        QCOMPARE(dialogs.Said, QStringList());

        QSettings settings = Stored();
        const QVariant created = settings.value(QStringLiteral("createtime"));
        QCOMPARE(created.typeId(), int(QMetaType::QByteArray));
        const QByteArray bytes = created.toByteArray();
        QCOMPARE(bytes.size(), 8);
        double value = 0;
        std::memcpy(&value, bytes.constData(), 8); // the machine is little-endian, as stored
        QCOMPARE(std::trunc(value), EncodeDateTime(2024, 1, 2));
        QCOMPARE(value - std::trunc(value), 0.5625);
        QCOMPARE(settings.value(QStringLiteral("modifytime")).toByteArray(),
                 QByteArray::fromStdString(DateTimeToSettingBytes(0.25)));
        QCOMPARE(settings.value(QStringLiteral("positions")).typeId(), int(QMetaType::QString));
        QCOMPARE(settings.value(QStringLiteral("positions")).toString(), QStringLiteral("1"));
        QCOMPARE(settings.value(QStringLiteral("procedure")).toString(), QString());
        QCOMPARE(settings.allKeys().size(), 9);

        TForm1 again(dialogs);
        QCOMPARE(EditText(again, "Edit1"), QStringLiteral("Title, with comma"));
        QCOMPARE(EditText(again, "Edit2"), QStringLiteral("Ann\u00e9e"));
        QCOMPARE(EditText(again, "Edit3"), QStringLiteral("@subject"));
        QCOMPARE(EditText(again, "Edit4"), QStringLiteral("a b c"));
        QCOMPARE(Shown(again, "DateTimePicker1", "DateTimePicker2"), 45293.5625);
        QCOMPARE(Shown(again, "DateTimePicker3", "DateTimePicker4"), 0.25);
        QCOMPARE(EditText(again, "Edit5"), QStringLiteral("App"));
        QCOMPARE(EditText(again, "Edit6"), QString());
        QCOMPARE(again.Quality(), 1);
        QCOMPARE(Find<QLabel>(again, "Label1")->text(), QStringLiteral("1%"));
        QCOMPARE(dialogs.Said, QStringList());
    }

    void QualityIsClampedOrDefaulted_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("quality");
        QTest::newRow("150") << QStringLiteral("150") << 100;
        QTest::newRow("abc") << QStringLiteral("abc") << 60;
        QTest::newRow("0") << QStringLiteral("0") << 1;
        QTest::newRow("-7") << QStringLiteral("-7") << 1;
        QTest::newRow("empty") << QString() << 60;
        QTest::newRow("12x") << QStringLiteral("12x") << 60;
        QTest::newRow("huge") << QStringLiteral("99999999999999999999") << 60;
    }

    void QualityIsClampedOrDefaulted()
    {
        QFETCH(QString, stored);
        QFETCH(int, quality);
        {
            QSettings settings = Stored();
            settings.setValue(QStringLiteral("positions"), stored);
        }
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        Find<QSlider>(form, "TrackBar1")->setValue(33);
        form.ToolButton9Click();
        QCOMPARE(form.Quality(), quality);
        QCOMPARE(Find<QLabel>(form, "Label1")->text(),
                 QString::number(quality) + QStringLiteral("%"));
    }

    void MissingCreatorAndProducerKeepTheirText()
    {
        {
            QSettings settings = Stored();
            settings.setValue(QStringLiteral("apptitle"), QStringLiteral("T"));
        }
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        Find<QLineEdit>(form, "Edit2")->setText(QStringLiteral("gone after loading"));
        Find<QLineEdit>(form, "Edit5")->setText(QStringLiteral("mine"));
        Find<QLineEdit>(form, "Edit6")->setText(QStringLiteral("ours"));
        form.ToolButton9Click();
        QCOMPARE(EditText(form, "Edit1"), QStringLiteral("T"));
        QCOMPARE(EditText(form, "Edit2"), QString());
        QCOMPARE(EditText(form, "Edit5"), QStringLiteral("mine"));
        QCOMPARE(EditText(form, "Edit6"), QStringLiteral("ours"));
    }

    void MalformedDatesGiveTheCurrentTime()
    {
        const TDateTime now = EncodeDateTime(2030, 6, 7, 8, 9, 10);
        ScopedClock clock(now);
        {
            QSettings settings = Stored();
            settings.setValue(QStringLiteral("createtime"), QByteArray(7, '\0'));
            settings.setValue(QStringLiteral("modifytime"), QStringLiteral("45293.5"));
        }
        TFakeDialogs dialogs;
        TForm1 form(dialogs);
        QCOMPARE(Shown(form, "DateTimePicker1", "DateTimePicker2"), now);
        QCOMPARE(Shown(form, "DateTimePicker3", "DateTimePicker4"), now);
        // Not a number, or no date the pickers can show.
        {
            QSettings settings = Stored();
            settings.setValue(QStringLiteral("createtime"),
                              QByteArray::fromStdString(DateTimeToSettingBytes(std::nan(""))));
            settings.setValue(QStringLiteral("modifytime"),
                              QByteArray::fromStdString(DateTimeToSettingBytes(1e300)));
        }
        form.ToolButton9Click();
        QCOMPARE(Shown(form, "DateTimePicker1", "DateTimePicker2"), now);
        QCOMPARE(Shown(form, "DateTimePicker3", "DateTimePicker4"), now);
        QCOMPARE(dialogs.Said, QStringList());
    }

    void TextStoredAsBytesEndsLoadingWithAnError()
    {
        {
            QSettings settings = Stored();
            settings.setValue(QStringLiteral("apptitle"), QStringLiteral("T"));
            settings.setValue(QStringLiteral("author"), QStringLiteral("A"));
            settings.setValue(QStringLiteral("subject"), QStringLiteral("S"));
            settings.setValue(QStringLiteral("keywords"), QByteArray("K"));
            settings.setValue(QStringLiteral("creator"), QStringLiteral("C"));
        }
        TFakeDialogs dialogs;
        TForm1 form(dialogs); // loading at start-up reaches the error display as well
        QCOMPARE(dialogs.Said.size(), 1);
        QVERIFY2(
            dialogs.Said[0].startsWith(QStringLiteral("error: Invalid data type in the settings ") +
                                       TForm1::SettingsFileName()) &&
                dialogs.Said[0].contains(QStringLiteral("\"keywords\"")),
            qPrintable(dialogs.Said[0]));
        QCOMPARE(EditText(form, "Edit3"), QStringLiteral("S"));
        QCOMPARE(EditText(form, "Edit5"), QStringLiteral("Kestrom Pictova")); // not reached
    }

    // pictova-cli --settings reads the file without Qt: what the window saved, with texts
    // QSettings has to quote and escape, the Qt-free reader reads as QSettings does, and the
    // window loads it back unchanged (a date before 1899 included).
    void TheCommandLineReadsTheSameValues()
    {
        const QString title = QStringLiteral(" lead, \"quoted\" back\\slash\ttab\nline\r ");
        const QString author =
            QStringLiteral("Zo\u00eb M\u00fcller \u2013 \u65e5\u672c \U0001F600");
        const QString subject = QStringLiteral("@@ at, start; = \"q\"");
        const QString keywords = QString::fromUtf8("ctrl\x01"
                                                   "abc\x7f\x1f\xc3\xa9"
                                                   "0f");
        const QString creator = QStringLiteral("[General] %41 \\x41");
        const QString producer = QStringLiteral(" @Invalid() ");
        TFakeDialogs dialogs;
        {
            TForm1 form(dialogs);
            const std::pair<const char*, QString> edits[] = {
                {"Edit2", author}, {"Edit3", subject}, {"Edit5", creator}, {"Edit6", producer}};
            for (const auto& [name, text] : edits)
                Find<QLineEdit>(form, name)->setText(text);
            Find<QDateEdit>(form, "DateTimePicker1")->setDate(QDate(2024, 1, 2));
            Find<QTimeEdit>(form, "DateTimePicker2")->setTime(QTime(13, 30));
            Find<QDateEdit>(form, "DateTimePicker3")->setDate(QDate(1815, 6, 18));
            Find<QTimeEdit>(form, "DateTimePicker4")->setTime(QTime(23, 59, 59, 999));
            Find<QSlider>(form, "TrackBar1")->setValue(85);
            form.ToolButton8Click();
        }
        QCOMPARE(dialogs.Said, QStringList());
        {
            // Line breaks and control characters, which an edit box does not keep.
            QSettings writable = Stored();
            writable.setValue(QString::fromLatin1(kSettingTitle), title);
            writable.setValue(QString::fromLatin1(kSettingKeywords), keywords);
        }
        const TDateTime modified = EncodeDateTime(1815, 6, 18, 23, 59, 59, 999);

        const TSavedSettings read =
            ReadSettingsFile(PathBytes(TForm1::SettingsFileName()), EncodeDateTime(2030, 1, 1));
        const QSettings settings = Stored();
        const auto stored = [&](const char* name) {
            return settings.value(QString::fromLatin1(name)).toString();
        };
        const std::pair<const std::string&, QString> texts[] = {
            {read.Title, title},       {read.Author, author},   {read.Subject, subject},
            {read.Keywords, keywords}, {read.Creator, creator}, {read.Producer, producer}};
        const char* const names[] = {kSettingTitle,    kSettingAuthor,  kSettingSubject,
                                     kSettingKeywords, kSettingCreator, kSettingProducer};
        for (std::size_t i = 0; i < std::size(texts); ++i)
        {
            QCOMPARE(QString::fromStdString(texts[i].first), texts[i].second);
            QCOMPARE(stored(names[i]), texts[i].second);
        }
        QCOMPARE(read.Created, 45293.5625);
        QCOMPARE(read.Modified, modified);
        QCOMPARE(settings.value(QString::fromLatin1(kSettingModified)).toByteArray(),
                 QByteArray::fromStdString(DateTimeToSettingBytes(modified)));
        QCOMPARE(read.Quality, 85);

        TForm1 again(dialogs);
        QCOMPARE(Find<QDateEdit>(again, "DateTimePicker3")->date(), QDate(1815, 6, 18));
        QCOMPARE(Find<QTimeEdit>(again, "DateTimePicker4")->time(), QTime(23, 59, 59, 999));
        QCOMPARE(Shown(again, "DateTimePicker3", "DateTimePicker4"), modified);
        QCOMPARE(EditText(again, "Edit3"), subject);
        QCOMPARE(EditText(again, "Edit6"), producer);

        // The quality as a person may write it by hand: both read it alike.
        for (const char* text : {" 42 ", "+7", "150", "4 2", "abc"})
        {
            {
                QSettings writable = Stored();
                writable.setValue(QString::fromLatin1(kSettingQuality), QString::fromLatin1(text));
            }
            again.ToolButton9Click();
            QCOMPARE(ReadSettingsFile(PathBytes(TForm1::SettingsFileName()), 0).Quality,
                     again.Quality());
        }
        QCOMPARE(again.Quality(), 60);
        QCOMPARE(dialogs.Said, QStringList());
    }
};

int RunSettingsWindowTests(int argc, char** argv)
{
    TSettingsWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "SettingsWindowTest.moc"
