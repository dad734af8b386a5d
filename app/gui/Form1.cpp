#include "app/gui/Form1.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include <QAction>
#include <QCoreApplication>
#include <QDateEdit>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStatusBar>
#include <QTimeEdit>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/convert/FileList.h"
#include "app/convert/Preview.h"
#include "app/convert/SettingsFile.h"
#include "app/gui/Addresses.h"
#include "app/gui/Dialogs.h"
#include "app/gui/ElidingLabel.h"
#include "app/gui/Form2.h"
#include "app/gui/Form4.h"
#include "app/gui/GuiText.h"
#include "app/gui/Icons.h"
#include "app/gui/ListView.h"
#include "platform/Exceptions.h"
#include "platform/SaveFile.h"

namespace
{

constexpr int kClientWidth = 738;
constexpr int kClientHeight = 539;
constexpr int kRightPanelWidth = 346;
// The list panel's margins, left and right.
constexpr int kPanelMargins = 6;
// The estimate starts this long after the last change, so dragging the slider costs nothing.
constexpr int kEstimateDelayMs = 300;
// Partial estimates reach the window no more often than this.
constexpr std::chrono::milliseconds kEstimateProgressInterval{400};

constexpr const char* kTips = "Tips: You can drag and drop image files to File list. You can drag "
                              "and drop File list item to adjust image order.";

QString Text(const char* text)
{
    return QString::fromUtf8(text);
}

// A toolbar button with its caption under its icon and only a small margin around the caption,
// so six captions fit side by side in the list's half of the window.
class TCaptionButton : public QToolButton
{
public:
    using QToolButton::QToolButton;
    QSize sizeHint() const override
    {
        const QSize icon = iconSize();
        const QFontMetrics metrics(font());
        const int textWidth = metrics.horizontalAdvance(text().remove(QLatin1Char('&')));
        return {std::max({icon.width(), textWidth}) + 2 * kCaptionMargin,
                icon.height() + metrics.height() + 2 * kCaptionMargin};
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

    static constexpr int kCaptionMargin = 3;
};

// Sizes a toolbar's buttons to fit width together, each at least minWidth wide (the design's
// width) where there is room, shrinking the captions' font a little where the desktop's font is
// too wide for them. With spread, the room left is shared out among them.
void FitToolButtons(const QList<QToolButton*>& buttons, int width, int minWidth, bool spread)
{
    if (buttons.isEmpty())
        return;
    QFont font = buttons.first()->font();
    const auto needed = [&] {
        int sum = 0;
        for (QToolButton* button : buttons)
        {
            button->setFont(font);
            sum += button->sizeHint().width();
        }
        return sum;
    };
    while (needed() > width && font.pointSizeF() > 7.0)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    // The design's width where there is room for it, then what is left shared out evenly.
    int sum = 0;
    for (QToolButton* button : buttons)
        sum += std::max(minWidth, button->sizeHint().width());
    const bool designWidth = sum <= width;
    if (!designWidth)
        sum = needed();
    const auto count = static_cast<int>(buttons.size());
    const int extra = spread ? std::max(0, width - sum) / count : 0;
    for (QToolButton* button : buttons)
    {
        const QSize hint = button->sizeHint();
        button->setFixedSize((designWidth ? std::max(minWidth, hint.width()) : hint.width()) +
                                 extra,
                             std::max(36, hint.height()));
    }
}

QToolButton* NewToolButton(QToolBar* bar, const char* name, const char* caption, const char* icon)
{
    auto* button = new TCaptionButton(bar);
    button->setObjectName(Text(name));
    button->setText(Text(caption));
    button->setAccessibleName(Text(caption));
    button->setIcon(AppIcon(icon));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setAutoRaise(true);
    bar->addWidget(button);
    return button;
}

QToolBar* NewToolBar(const char* name, QWidget* parent)
{
    auto* bar = new QToolBar(parent);
    bar->setObjectName(Text(name));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setIconSize(QSize(16, 16));
    bar->setContentsMargins(0, 0, 0, 0);
    bar->layout()->setSpacing(0);
    bar->layout()->setContentsMargins(0, 0, 0, 0);
    bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    return bar;
}

QAction* NewAction(QWidget* parent, const char* name, const char* caption,
                   const QKeySequence& shortcut = {})
{
    auto* action = new QAction(Text(caption), parent);
    action->setObjectName(Text(name));
    if (!shortcut.isEmpty())
        action->setShortcut(shortcut);
    return action;
}

QLineEdit* NewEdit(const char* name, const char* accessibleName, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(Text(name));
    edit->setAccessibleName(Text(accessibleName));
    return edit;
}

QDateEdit* NewDatePicker(const char* name, const char* accessibleName, QWidget* parent)
{
    auto* picker = new QDateEdit(parent);
    picker->setObjectName(Text(name));
    picker->setAccessibleName(Text(accessibleName));
    picker->setCalendarPopup(true);
    picker->setMinimumDate(QDate(1, 1, 1));
    picker->setMaximumDate(QDate(9999, 12, 31));
    picker->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    return picker;
}

QTimeEdit* NewTimePicker(const char* name, const char* accessibleName, QWidget* parent)
{
    auto* picker = new QTimeEdit(parent);
    picker->setObjectName(Text(name));
    picker->setAccessibleName(Text(accessibleName));
    picker->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    return picker;
}

// The mnemonics of the captions, kept apart from the captions themselves, which stay the
// system's own texts.
QString WithMnemonic(const char* caption, int position)
{
    QString text = Text(caption);
    text.insert(position, QLatin1Char('&'));
    return text;
}

constexpr std::int64_t kMsPerDay = 86'400'000;

} // namespace

// --- construction -----------------------------------------------------------------------------

TForm1::TForm1(IDialogs& dialogs, QWidget* parent) : QMainWindow(parent), m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(Text(kApplicationTitle));
    setWindowIcon(AppIcon("pictova"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("Panel0"));
    auto* leftPanel = new QWidget(central);
    leftPanel->setObjectName(QStringLiteral("Panel1"));
    auto* rightPanel = new QWidget(central);
    rightPanel->setObjectName(QStringLiteral("Panel2"));
    rightPanel->setFixedWidth(kRightPanelWidth);
    auto* columns = new QHBoxLayout(central);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(0);
    columns->addWidget(leftPanel, 1);
    columns->addWidget(rightPanel);
    setCentralWidget(central);

    CreateMainMenu();
    CreateListPanel(leftPanel);
    CreateSettingsPanel(rightPanel);
    CreateStatusBar();
    CreatePopupMenu();
    SetTabOrder();

    // The client area (the menu bar lies above it, as on the desktop it was designed for),
    // centred on the screen.
    setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    m_estimateTimer.setSingleShot(true);
    m_estimateTimer.setInterval(kEstimateDelayMs);
    connect(&m_estimateTimer, &QTimer::timeout, this,
            [this] { Guarded(m_dialogs, this, [&] { StartEstimate(); }); });

    FormCreate();
    m_form4 = std::make_unique<TForm4>(m_dialogs, this);
}

TForm1::~TForm1()
{
    // The workers hand their results to this window: they stop before it goes.
    m_previewWorker.Stop();
    m_estimateWorker.Stop();
}

void TForm1::CreateMainMenu()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("File1"));
    QAction* exit = NewAction(this, "Exit1", "E&xit", QKeySequence::Quit);
    file->addAction(exit);
    connect(exit, &QAction::triggered, this, &TForm1::Exit1Click);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("Help1"));
    QAction* help2 = NewAction(this, "Help2", "&Help", QKeySequence::HelpContents);
    QAction* online = NewAction(this, "Helponline1", "Help &online");
    QAction* web = NewAction(this, "Kestromswebsite1", "&Kestrom's web site");
    QAction* mail = NewAction(this, "Emailsupport1", "&Email support");
    QAction* about = NewAction(this, "about1", "&About");
    help->addAction(help2);
    help->addAction(online);
    help->addAction(web);
    help->addAction(mail);
    help->addSeparator();
    help->addAction(about);
    connect(help2, &QAction::triggered, this, &TForm1::Help2Click);
    connect(online, &QAction::triggered, this, &TForm1::Helponline1Click);
    connect(web, &QAction::triggered, this, &TForm1::Kestromswebsite1Click);
    connect(mail, &QAction::triggered, this, &TForm1::Emailsupport1Click);
    connect(about, &QAction::triggered, this, &TForm1::about1Click);
}

void TForm1::CreateListPanel(QWidget* panel)
{
    ToolBar1 = NewToolBar("ToolBar1", panel);
    ToolBar1->setAccessibleName(QStringLiteral("List commands"));
    ToolButton1 = NewToolButton(ToolBar1, "ToolButton1", "Add files", "add-files");
    ToolButton2 = NewToolButton(ToolBar1, "ToolButton2", "Add folder", "add-folder");
    ToolButton3 = NewToolButton(ToolBar1, "ToolButton3", "Remove", "remove");
    ToolButton4 = NewToolButton(ToolBar1, "ToolButton4", "Remove all", "remove-all");
    ToolButton5 = NewToolButton(ToolBar1, "ToolButton5", "Move up", "move-up");
    ToolButton6 = NewToolButton(ToolBar1, "ToolButton6", "Move down", "move-down");
    ToolButton1->setToolTip(QStringLiteral("Add picture files (Ctrl+O)"));
    ToolButton2->setToolTip(QStringLiteral("Add the pictures of a folder (Ctrl+Shift+O)"));
    ToolButton3->setToolTip(QStringLiteral("Remove the selected picture (Delete)"));
    ToolButton4->setToolTip(QStringLiteral("Remove every picture (Ctrl+Shift+Delete)"));
    ToolButton5->setToolTip(QStringLiteral("Move the selected picture up (Ctrl+Up)"));
    ToolButton6->setToolTip(QStringLiteral("Move the selected picture down (Ctrl+Down)"));
    FitToolButtons({ToolButton1, ToolButton2, ToolButton3, ToolButton4, ToolButton5, ToolButton6},
                   kClientWidth - kRightPanelWidth - kPanelMargins, 63, true);
    connect(ToolButton1, &QToolButton::clicked, this, &TForm1::ToolButton1Click);
    connect(ToolButton2, &QToolButton::clicked, this, &TForm1::ToolButton2Click);
    connect(ToolButton3, &QToolButton::clicked, this, &TForm1::ToolButton3Click);
    connect(ToolButton4, &QToolButton::clicked, this, &TForm1::ToolButton4Click);
    connect(ToolButton5, &QToolButton::clicked, this, &TForm1::ToolButton5Click);
    connect(ToolButton6, &QToolButton::clicked, this, &TForm1::ToolButton6Click);

    ListView1 = new TListView(panel);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setAccessibleName(QStringLiteral("File list"));
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListView1, &TListView::itemSelectionChanged, this, &TForm1::ListView1Change);
    connect(ListView1, &TListView::EntryDropped, this, &TForm1::ListView1EndDrag);
    connect(ListView1, &TListView::FilesDropped, this, &TForm1::HandleDroppedFiles);
    // The list's length changes what the PDF will weigh.
    connect(ListView1->model(), &QAbstractItemModel::rowsInserted, this, &TForm1::ScheduleEstimate);
    connect(ListView1->model(), &QAbstractItemModel::rowsRemoved, this, &TForm1::ScheduleEstimate);

    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(4, 2, kPanelMargins - 4, 4);
    layout->setSpacing(2);
    layout->addWidget(ToolBar1);
    layout->addWidget(ListView1, 1);
}

void TForm1::CreateSettingsPanel(QWidget* panel)
{
    ToolBar2 = NewToolBar("ToolBar2", panel);
    ToolBar2->setAccessibleName(QStringLiteral("Settings"));
    ToolButton8 = NewToolButton(ToolBar2, "ToolButton8", "Save setting", "save-setting");
    ToolButton9 = NewToolButton(ToolBar2, "ToolButton9", "Load setting", "load-setting");
    ToolButton8->setToolTip(QStringLiteral("Save the PDF properties and the quality (Ctrl+S)"));
    ToolButton9->setToolTip(QStringLiteral("Load the saved PDF properties and quality (Ctrl+L)"));
    ToolButton8->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    ToolButton9->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    FitToolButtons({ToolButton8, ToolButton9}, kRightPanelWidth - kPanelMargins, 66, false);
    connect(ToolButton8, &QToolButton::clicked, this, &TForm1::ToolButton8Click);
    connect(ToolButton9, &QToolButton::clicked, this, &TForm1::ToolButton9Click);

    auto* preview = new QGroupBox(QStringLiteral("Preview"), panel);
    preview->setObjectName(QStringLiteral("GroupBox1"));
    Image1 = new QLabel(preview);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setFixedSize(kPreviewWidth, kPreviewHeight);
    Image1->setAccessibleName(QStringLiteral("Preview"));
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* previewLayout = new QVBoxLayout(preview);
    previewLayout->setContentsMargins(6, 2, 6, 4);
    previewLayout->addWidget(Image1, 0, Qt::AlignHCenter);

    BitBtn1 = new QPushButton(AppIcon("convert"), WithMnemonic("Convert", 0), panel);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setAccessibleName(QStringLiteral("Convert"));
    BitBtn1->setEnabled(false);
    BitBtn3 = new QPushButton(AppIcon("exit"), WithMnemonic("Exit", 1), panel);
    BitBtn3->setObjectName(QStringLiteral("BitBtn3"));
    BitBtn3->setAccessibleName(QStringLiteral("Exit"));
    for (QPushButton* button : {BitBtn1, BitBtn3})
        button->setMinimumWidth(90);
    connect(BitBtn1, &QPushButton::clicked, this, &TForm1::BitBtn1Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TForm1::BitBtn3Click);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn3);

    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(2, 2, 4, 4);
    layout->setSpacing(3);
    layout->addWidget(ToolBar2);
    layout->addWidget(preview);
    layout->addWidget(CreatePropertiesGroup());
    layout->addWidget(CreateQualityGroup());
    layout->addStretch(1);
    layout->addLayout(buttons);
}

QGroupBox* TForm1::CreatePropertiesGroup()
{
    auto* group = new QGroupBox(QStringLiteral("PDF Properties"));
    group->setObjectName(QStringLiteral("GroupBox2"));
    Edit1 = NewEdit("Edit1", "Title", group);
    Edit2 = NewEdit("Edit2", "Author", group);
    Edit3 = NewEdit("Edit3", "Subject", group);
    Edit4 = NewEdit("Edit4", "Keywords", group);
    DateTimePicker1 = NewDatePicker("DateTimePicker1", "Created date", group);
    DateTimePicker2 = NewTimePicker("DateTimePicker2", "Created time", group);
    DateTimePicker3 = NewDatePicker("DateTimePicker3", "Modified date", group);
    DateTimePicker4 = NewTimePicker("DateTimePicker4", "Modified time", group);
    Edit5 = NewEdit("Edit5", "Application", group);
    Edit6 = NewEdit("Edit6", "Producer", group);
    Edit5->setText(Text(kApplicationTitle));
    Edit6->setText(Text(kApplicationTitle));

    struct TRow
    {
        const char* Name;
        QString Caption;
        QWidget* Field;
        QWidget* Second;
    };
    const TRow rows[] = {
        {"Label2", WithMnemonic("Title:", 0), Edit1, nullptr},
        {"Label3", WithMnemonic("Author:", 0), Edit2, nullptr},
        {"Label4", WithMnemonic("Subject:", 2), Edit3, nullptr},
        {"Label5", WithMnemonic("Keywords:", 0), Edit4, nullptr},
        {"Label6", WithMnemonic("Created:", 2), DateTimePicker1, DateTimePicker2},
        {"Label7", WithMnemonic("Modified:", 0), DateTimePicker3, DateTimePicker4},
        {"Label8", WithMnemonic("Application:", 1), Edit5, nullptr},
        {"Label9", WithMnemonic("Producer:", 3), Edit6, nullptr},
    };
    auto* grid = new QGridLayout(group);
    grid->setContentsMargins(6, 2, 6, 4);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(2);
    for (int row = 0; row < static_cast<int>(std::size(rows)); ++row)
    {
        const TRow& r = rows[row];
        auto* caption = new QLabel(r.Caption, group);
        caption->setObjectName(Text(r.Name));
        caption->setBuddy(r.Field);
        grid->addWidget(caption, row, 0);
        if (r.Second == nullptr)
        {
            grid->addWidget(r.Field, row, 1, 1, 2);
            continue;
        }
        grid->addWidget(r.Field, row, 1);
        grid->addWidget(r.Second, row, 2);
    }
    grid->setColumnStretch(1, 3);
    grid->setColumnStretch(2, 2);
    return group;
}

QGroupBox* TForm1::CreateQualityGroup()
{
    auto* group = new QGroupBox(WithMnemonic("Image Quality", 6));
    group->setObjectName(QStringLiteral("GroupBox3"));
    TrackBar1 = new QSlider(Qt::Horizontal, group);
    TrackBar1->setObjectName(QStringLiteral("TrackBar1"));
    TrackBar1->setAccessibleName(QStringLiteral("Image Quality"));
    TrackBar1->setRange(1, 100);
    TrackBar1->setValue(TSavedSettings().Quality);
    TrackBar1->setPageStep(10);
    TrackBar1->setTickPosition(QSlider::TicksBelow);
    TrackBar1->setTickInterval(100);
    connect(TrackBar1, &QSlider::valueChanged, this, &TForm1::TrackBar1Change);

    Label1 = new QLabel(QStringLiteral("60%"), group);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label1->setMinimumWidth(Label1->fontMetrics().horizontalAdvance(QStringLiteral("100%")) + 4);
    Label10 = new QLabel(group);
    Label10->setObjectName(QStringLiteral("Label10"));
    Label10->setAccessibleDescription(QStringLiteral("Estimated PDF size"));
    Label10->setToolTip(QStringLiteral("What the PDF of the list will weigh at this quality"));
    Label10->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label10->setMinimumWidth(
        Label10->fontMetrics().horizontalAdvance(QStringLiteral("about 999.9 MB\u2026")));

    auto* layout = new QHBoxLayout(group);
    layout->setContentsMargins(6, 0, 6, 4);
    layout->addWidget(TrackBar1, 1);
    layout->addWidget(Label1);
    layout->addSpacing(6);
    layout->addWidget(Label10);
    return group;
}

void TForm1::CreateStatusBar()
{
    // Too long for its panel: cut with an ellipsis, whole in the tooltip.
    auto* tips = new TElidingLabel(Qt::ElideRight);
    tips->setText(Text(kTips));
    tips->setObjectName(QStringLiteral("StatusPanel1"));
    tips->setFixedWidth(530);
    tips->setToolTip(Text(kTips));
    auto* web = new QLabel(Text(kWebSiteShown));
    web->setObjectName(QStringLiteral("StatusPanel2"));
    web->setAlignment(Qt::AlignCenter);
    web->setMinimumWidth(50);
    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    statusBar()->setSizeGripEnabled(false);
    statusBar()->addWidget(tips);
    statusBar()->addWidget(web, 1);
}

void TForm1::CreatePopupMenu()
{
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    Addfiles1 = NewAction(this, "Addfiles1", "Add files", QKeySequence::Open);
    Addfolder1 =
        NewAction(this, "Addfolder1", "Add folder", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    Remove1 = NewAction(this, "Remove1", "Remove", QKeySequence::Delete);
    Removeall1 = NewAction(this, "Removeall1", "Remove all",
                           QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Delete));
    Moveup1 = NewAction(this, "Moveup1", "Move up", QKeySequence(Qt::CTRL | Qt::Key_Up));
    Movedown1 = NewAction(this, "Movedown1", "Move down", QKeySequence(Qt::CTRL | Qt::Key_Down));
    PopupMenu1->addActions({Addfiles1, Addfolder1});
    PopupMenu1->addSeparator();
    PopupMenu1->addActions({Remove1, Removeall1});
    PopupMenu1->addSeparator();
    PopupMenu1->addActions({Moveup1, Movedown1});
    // Adding files works from anywhere in the window; the commands on entries only where the
    // entries are, so Delete still deletes text in an edit box.
    addActions({Addfiles1, Addfolder1});
    ListView1->addActions({Remove1, Removeall1, Moveup1, Movedown1});
    for (QAction* action : {Remove1, Removeall1, Moveup1, Movedown1})
        action->setShortcutContext(Qt::WidgetShortcut);
    Remove1->setEnabled(false);
    Removeall1->setEnabled(false);
    Moveup1->setEnabled(false);
    Movedown1->setEnabled(false);
    ToolButton3->setEnabled(false);
    ToolButton4->setEnabled(false);
    ToolButton5->setEnabled(false);
    ToolButton6->setEnabled(false);

    connect(Addfiles1, &QAction::triggered, this, &TForm1::Addfiles1Click);
    connect(Addfolder1, &QAction::triggered, this, &TForm1::Addfolder1Click);
    connect(Remove1, &QAction::triggered, this, &TForm1::Remove1Click);
    connect(Removeall1, &QAction::triggered, this, &TForm1::Removeall1Click);
    connect(Moveup1, &QAction::triggered, this, &TForm1::Moveup1Click);
    connect(Movedown1, &QAction::triggered, this, &TForm1::Movedown1Click);
    connect(ListView1, &QWidget::customContextMenuRequested, this, [this](const QPoint& point) {
        PopupMenu1->popup(ListView1->viewport()->mapToGlobal(point));
    });
}

void TForm1::SetTabOrder()
{
    ListView1->setFocus();
    const QList<QWidget*> order = {
        ListView1,       Edit1,           Edit2, Edit3, Edit4,     DateTimePicker1, DateTimePicker2,
        DateTimePicker3, DateTimePicker4, Edit5, Edit6, TrackBar1, BitBtn1,         BitBtn3};
    for (qsizetype i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order[i], order[i + 1]);
}

void TForm1::FormCreate()
{
    // The list takes dropped files (TListView); the settings come in as if "Load setting" was
    // clicked; a picture beside the program fills the preview until one is selected.
    ToolButton9Click();
    const QString welcome = QCoreApplication::applicationDirPath() + QStringLiteral("/prexiew.jpg");
    if (QFileInfo(welcome).isFile())
        ShowPreview(PathBytes(welcome));
}

// --- the list's entries -----------------------------------------------------------------------

int TForm1::EntryCount() const
{
    return ListView1->rowCount();
}

int TForm1::SelectedIndex() const
{
    const QModelIndexList rows = ListView1->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

std::string TForm1::EntryPath(int index) const
{
    const QTableWidgetItem* entry = ListView1->item(index, 0);
    return entry != nullptr ? entry->data(Qt::UserRole).toByteArray().toStdString() : std::string();
}

std::vector<std::string> TForm1::Pictures() const
{
    std::vector<std::string> paths;
    paths.reserve(static_cast<std::size_t>(EntryCount()));
    for (int i = 0; i < EntryCount(); ++i)
        paths.push_back(EntryPath(i));
    return paths;
}

void TForm1::AppendEntry(const std::string& path)
{
    auto* entry = new QTableWidgetItem(PathText(path));
    entry->setData(Qt::UserRole, QByteArray::fromStdString(path));
    entry->setToolTip(entry->text());
    entry->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    const int row = EntryCount();
    ListView1->insertRow(row);
    ListView1->setItem(row, 0, entry);
}

void TForm1::SwapEntries(int a, int b)
{
    QTableWidgetItem* first = ListView1->takeItem(a, 0);
    QTableWidgetItem* second = ListView1->takeItem(b, 0);
    ListView1->setItem(a, 0, second);
    ListView1->setItem(b, 0, first);
}

void TForm1::SelectEntry(int index)
{
    if (index < 0 || index >= EntryCount())
    {
        ListView1->clearSelection();
        ListView1->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        return;
    }
    ListView1->setCurrentCell(index, 0,
                              QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    ListView1->scrollToItem(ListView1->item(index, 0));
}

// --- list commands ----------------------------------------------------------------------------

void TForm1::ToolButton1Click()
{
    Guarded(m_dialogs, this, [&] {
        const QStringList chosen = m_dialogs.OpenPictureFiles(this, Text(kPictureFilter.data()));
        if (chosen.isEmpty())
            return;
        std::vector<std::string> paths;
        for (const QString& path : chosen)
            paths.push_back(PathBytes(path));
        TPictureList list = Pictures();
        for (const std::string& path : AddFiles(list, paths).Added)
            AppendEntry(path);
        ListView1->FitColumn();
        SelectEntry(EntryCount() - 1);
        UpdateCommandStates();
    });
}

void TForm1::ToolButton2Click()
{
    Guarded(m_dialogs, this, [&] {
        const std::optional<QString> folder =
            m_dialogs.SelectFolder(this, QStringLiteral("Please select folder"));
        if (!folder)
            return;
        TPictureList list = Pictures();
        const TListAddition addition = AddFolder(list, PathBytes(*folder));
        for (const TSkippedFile& skipped : addition.Skipped)
            if (skipped.Reason == TSkipReason::FolderUnreadable)
                throw Exception("Cannot read the folder " + skipped.Path + ": " + skipped.Detail);
        for (const std::string& path : addition.Added)
            AppendEntry(path);
        if (!addition.Added.empty())
        {
            ListView1->FitColumn();
            SelectEntry(EntryCount() - 1);
        }
    });
}

void TForm1::AddDroppedFiles(const std::vector<std::string>& paths)
{
    TPictureList list = Pictures();
    const TListAddition addition = ::AddDroppedFiles(list, paths);
    for (const std::string& path : addition.Added)
        AppendEntry(path);
    if (!addition.Added.empty())
    {
        ListView1->FitColumn();
        SelectEntry(EntryCount() - 1);
    }
}

void TForm1::HandleDroppedFiles(const QList<QUrl>& urls)
{
    Guarded(m_dialogs, this, [&] {
        std::vector<std::string> paths;
        for (const QUrl& url : urls)
            if (url.isLocalFile())
                paths.push_back(PathBytes(url.toLocalFile()));
        AddDroppedFiles(paths);
    });
}

void TForm1::ToolButton3Click()
{
    Guarded(m_dialogs, this, [&] {
        const int i = SelectedIndex();
        if (i >= 0)
            ListView1->removeRow(i);
        SelectEntry(i - 1);
        UpdateCommandStates();
    });
}

void TForm1::ToolButton4Click()
{
    Guarded(m_dialogs, this, [&] {
        ListView1->setRowCount(0);
        UpdateCommandStates();
    });
}

void TForm1::ToolButton5Click()
{
    Guarded(m_dialogs, this, [&] {
        const int i = SelectedIndex();
        if (i <= 0)
            return;
        SwapEntries(i - 1, i);
        SelectEntry(i - 1);
        UpdateCommandStates();
    });
}

void TForm1::ToolButton6Click()
{
    Guarded(m_dialogs, this, [&] {
        const int i = SelectedIndex();
        if (i < 0 || i >= EntryCount() - 1)
            return;
        SwapEntries(i, i + 1);
        SelectEntry(i + 1);
        UpdateCommandStates();
    });
}

void TForm1::Addfiles1Click()
{
    ToolButton1Click();
}

void TForm1::Addfolder1Click()
{
    ToolButton2Click();
}

void TForm1::Remove1Click()
{
    ToolButton3Click();
}

void TForm1::Removeall1Click()
{
    ToolButton4Click();
}

void TForm1::Moveup1Click()
{
    ToolButton5Click();
}

void TForm1::Movedown1Click()
{
    ToolButton6Click();
}

void TForm1::ListView1EndDrag(QPoint point)
{
    Guarded(m_dialogs, this, [&] {
        const int si = SelectedIndex();
        if (si < 0)
            return;
        const int ti = ListView1->rowAt(point.y());
        if (ti == si)
        {
            ListView1->viewport()->update();
            return;
        }
        const int landing = DraggedEntryIndex(si, ti, EntryCount());
        QTableWidgetItem* dragged = ListView1->takeItem(si, 0);
        ListView1->removeRow(si);
        ListView1->insertRow(landing);
        ListView1->setItem(landing, 0, dragged);
        SelectEntry(landing);
        ListView1->viewport()->update();
    });
}

void TForm1::UpdateCommandStates()
{
    const TListCommandStates states = ListCommandStates(EntryCount(), SelectedIndex());
    ToolButton3->setEnabled(states.Remove);
    Remove1->setEnabled(states.Remove);
    ToolButton4->setEnabled(states.RemoveAll);
    Removeall1->setEnabled(states.RemoveAll);
    ToolButton5->setEnabled(states.MoveUp);
    Moveup1->setEnabled(states.MoveUp);
    ToolButton6->setEnabled(states.MoveDown);
    Movedown1->setEnabled(states.MoveDown);
    BitBtn1->setEnabled(states.Convert);
}

// --- preview ----------------------------------------------------------------------------------

void TForm1::ListView1Change()
{
    Guarded(m_dialogs, this, [&] {
        const int i = SelectedIndex();
        if (i >= 0)
            ShowPreview(EntryPath(i));
        UpdateCommandStates();
    });
}

void TForm1::ShowPreview(const std::string& path)
{
    const std::uint64_t request = ++m_previewRequest;
    const int scale = std::max(1, static_cast<int>(std::ceil(Image1->devicePixelRatioF())));
    m_previewWorker.Post([this, request, path, scale](const std::atomic<bool>&) {
        std::optional<TRaster> raster;
        QString failure;
        try
        {
            raster = RenderPreview(path, scale);
        }
        catch (const std::exception& e)
        {
            failure = SystemText(e.what());
            if (failure.isEmpty())
                failure = QStringLiteral("not a picture");
        }
        QMetaObject::invokeMethod(
            this,
            [this, request, path, failure, raster = std::move(raster)]() mutable {
                Guarded(m_dialogs, this,
                        [&] { PreviewDone(request, path, failure, std::move(raster)); });
            },
            Qt::QueuedConnection);
    });
}

void TForm1::PreviewDone(std::uint64_t request, const std::string& path, const QString& failure,
                         std::optional<TRaster> raster)
{
    if (request != m_previewRequest)
        return; // another picture was asked for meanwhile
    m_previewAnswered = request;
    if (!failure.isEmpty())
    {
        // The file holds no picture: its entry goes, without a message box; the status bar
        // says why for a while.
        const int i = SelectedIndex();
        if (i >= 0 && EntryPath(i) == path)
        {
            ListView1->removeRow(i);
            SelectEntry(-1);
            statusBar()->showMessage(QStringLiteral("Removed from the list: ") + PathText(path) +
                                         QStringLiteral(": ") + failure,
                                     10000);
        }
        UpdateCommandStates();
        return;
    }
    if (!raster)
        return; // no such file: the preview keeps what it showed
    const QImage image(raster->Pixels.data(), raster->Width, raster->Height,
                       static_cast<qsizetype>(raster->RowBytes()), QImage::Format_RGB888);
    QPixmap pixmap = QPixmap::fromImage(image.copy());
    pixmap.setDevicePixelRatio(static_cast<qreal>(raster->Width) / kPreviewWidth);
    Image1->setPixmap(pixmap);
}

bool TForm1::PreviewPending() const
{
    return m_previewRequest != m_previewAnswered;
}

// --- quality and the size estimate ------------------------------------------------------------

int TForm1::Quality() const
{
    return TrackBar1->value();
}

void TForm1::TrackBar1Change()
{
    Guarded(m_dialogs, this, [&] {
        Label1->setText(QString::number(TrackBar1->value()) + QStringLiteral("%"));
        ScheduleEstimate();
    });
}

void TForm1::ScheduleEstimate()
{
    ++m_estimateRequest;
    m_estimateWorker.Cancel();
    m_estimateTimer.start();
    // What is shown no longer holds: say so until the new estimate arrives.
    if (!Label10->text().isEmpty() && !Label10->text().endsWith(QChar(0x2026)))
        Label10->setText(Label10->text() + QChar(0x2026));
}

void TForm1::StartEstimate()
{
    const std::uint64_t request = ++m_estimateRequest;
    std::vector<std::string> paths = Pictures();
    if (paths.empty())
    {
        m_estimateWorker.Cancel();
        Label10->clear();
        m_estimateAnswered = request;
        return;
    }
    const int quality = Quality();
    m_estimateWorker.Post(
        [this, request, paths = std::move(paths), quality](const std::atomic<bool>& cancelled) {
            const auto post = [this, request](std::int64_t bytes, bool final) {
                QMetaObject::invokeMethod(
                    this,
                    [this, request, bytes, final] {
                        Guarded(m_dialogs, this, [&] { ShowEstimate(request, bytes, final); });
                    },
                    Qt::QueuedConnection);
            };
            auto last = std::chrono::steady_clock::now();
            const std::optional<std::int64_t> bytes = m_estimator.Estimate(
                paths, quality, cancelled, [&](int done, std::int64_t extrapolated) {
                    const auto now = std::chrono::steady_clock::now();
                    if (done < static_cast<int>(paths.size()) &&
                        now - last >= kEstimateProgressInterval)
                    {
                        last = now;
                        post(extrapolated, false);
                    }
                });
            if (bytes)
                post(*bytes, true);
        });
}

void TForm1::ShowEstimate(std::uint64_t request, std::int64_t bytes, bool final)
{
    if (request != m_estimateRequest)
        return;
    QString text = QString::fromStdString(AboutSizeText(bytes));
    if (!final)
        text += QChar(0x2026);
    else
        m_estimateAnswered = request;
    Label10->setText(text);
}

bool TForm1::EstimatePending() const
{
    return m_estimateTimer.isActive() || m_estimateRequest != m_estimateAnswered;
}

// --- document properties and Convert ----------------------------------------------------------

TDateTime DateValue(const QDateEdit& picker)
{
    const QDate date = picker.date();
    return EncodeDateTime(date.year(), date.month(), date.day());
}

TDateTime TimeValue(const QTimeEdit& picker)
{
    return static_cast<TDateTime>(picker.time().msecsSinceStartOfDay()) /
           static_cast<TDateTime>(kMsPerDay);
}

void SetDateTimeValue(QDateEdit& picker, TDateTime value)
{
    const TDateTimeParts parts = DecodeDateTime(value);
    picker.setDate(QDate(parts.Year, parts.Month, parts.Day));
}

void SetDateTimeValue(QTimeEdit& picker, TDateTime value)
{
    const TDateTimeParts parts = DecodeDateTime(value);
    picker.setTime(QTime(parts.Hour, parts.Minute, parts.Second, parts.Millisecond));
}

TDocumentProperties TForm1::DocumentProperties() const
{
    TDocumentProperties properties;
    properties.Title = NarrowText(Edit1->text());
    properties.Author = NarrowText(Edit2->text());
    properties.Subject = NarrowText(Edit3->text());
    properties.Keywords = NarrowText(Edit4->text());
    properties.CreatedDate = DateValue(*DateTimePicker1);
    properties.CreatedTime = TimeValue(*DateTimePicker2);
    properties.ModifiedDate = DateValue(*DateTimePicker3);
    properties.ModifiedTime = TimeValue(*DateTimePicker4);
    properties.Creator = NarrowText(Edit5->text());
    properties.Producer = NarrowText(Edit6->text());
    return properties;
}

void TForm1::BitBtn1Click()
{
    Guarded(m_dialogs, this, [&] {
        if (EntryCount() == 0)
        {
            m_dialogs.ShowMessage(this, QStringLiteral("Please add image files!"));
            return;
        }
        const std::optional<QString> chosen = m_dialogs.SavePdfFile(this);
        if (!chosen)
            return;
        const QString& path = *chosen;
        // The old file stays until the finished document replaces it, so a cancelled or failed
        // run loses nothing; only a path that cannot be replaced stops here.
        if (!CanReplaceFile(PathBytes(path)))
        {
            m_dialogs.ShowMessage(this, QStringLiteral("The file ") + path +
                                            QStringLiteral(" is opened by other application.") +
                                            QLatin1Char('\r') + QStringLiteral("Please close it!"));
            return;
        }
        // The estimate waits: the run wants both cores.
        m_estimateTimer.stop();
        m_estimateWorker.Cancel();
        auto form2 = std::make_unique<TForm2>(*this);
        form2->Run().SetFileName(PathBytes(path));
        form2->Label1()->setText(QStringLiteral("Preparing..."));
        form2->Label2()->setText(QStringLiteral("0%"));
        form2->Timer1()->start();
        form2->exec();
        const TRunResult result = form2->RunResult();
        const QStringList skipped = form2->Skipped();
        const QString failure = form2->Failure();
        form2.reset();
        ScheduleEstimate();
        if (result == rrWritten)
            m_dialogs.ShowMessage(this, QStringLiteral("Convert succeeded!"));
        else if (result != rrCancelled)
        {
            if (!failure.isEmpty())
                m_dialogs.ShowError(this, failure);
            m_dialogs.ShowMessage(this, QStringLiteral("Convert unsucceeded!"));
        }
        if (result == rrWritten && !skipped.isEmpty())
            m_dialogs.ShowMessage(this, QString::number(skipped.size()) +
                                            (skipped.size() == 1
                                                 ? QStringLiteral(" picture got no page:\n")
                                                 : QStringLiteral(" pictures got no page:\n")) +
                                            skipped.join(QLatin1Char('\n')));
    });
}

// --- exit, help and about ---------------------------------------------------------------------

void TForm1::BitBtn3Click()
{
    close();
}

void TForm1::Exit1Click()
{
    close();
}

void TForm1::Help2Click()
{
    Guarded(m_dialogs, this, [&] {
        const QString folder = QCoreApplication::applicationDirPath();
        const QStringList candidates = {
            folder + QStringLiteral("/help/index.html"),
            folder + QStringLiteral("/../share/pictova/help/index.html"),
        };
        for (const QString& candidate : candidates)
        {
            const QFileInfo help(candidate);
            if (help.isFile())
            {
                OpenLink(m_dialogs, this, QUrl::fromLocalFile(help.canonicalFilePath()));
                return;
            }
        }
        m_dialogs.ShowMessage(this, QStringLiteral("The help is not installed: ") +
                                        candidates.last() + QStringLiteral(" is missing."));
    });
}

void TForm1::Helponline1Click()
{
    Guarded(m_dialogs, this, [&] { OpenLink(m_dialogs, this, QUrl(Text(kOnlineHelp))); });
}

void TForm1::Kestromswebsite1Click()
{
    Guarded(m_dialogs, this, [&] { OpenLink(m_dialogs, this, QUrl(Text(kWebSite))); });
}

void TForm1::Emailsupport1Click()
{
    Guarded(m_dialogs, this, [&] { OpenLink(m_dialogs, this, SupportMailUrl()); });
}

void TForm1::about1Click()
{
    Guarded(m_dialogs, this, [&] { m_form4->exec(); });
}
