#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QMainWindow>
#include <QPoint>
#include <QString>
#include <QTimer>
#include <QUrl>

#include "app/convert/ConversionRun.h"
#include "app/convert/LatestJob.h"
#include "app/convert/SizeEstimate.h"
#include "app/imaging/Raster.h"

class IDialogs;
class QAction;
class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSlider;
class QTimeEdit;
class QToolBar;
class QToolButton;
class TForm4;
class TListView;

// The main window: the picture list on the left; on the right the settings buttons, the
// preview, the PDF properties, the quality and Convert; the status bar below. Every control
// carries its design name as objectName and an accessible name, so tests and desktop automation
// find it.
class TForm1 : public QMainWindow
{
    Q_OBJECT
public:
    // dialogs is borrowed and must outlive the window.
    explicit TForm1(IDialogs& dialogs, QWidget* parent = nullptr);
    ~TForm1() override;

    // What the progress window reads: the list's paths in page order, the document properties
    // and the quality (TrackBar1's position).
    std::vector<std::string> Pictures() const;
    TDocumentProperties DocumentProperties() const;
    int Quality() const;
    IDialogs& Dialogs() const { return m_dialogs; }

    // Files handed over from outside (dropped on the list, or named on the command line),
    // added with the drop checks: present files of an accepted type, not yet listed.
    void AddDroppedFiles(const std::vector<std::string>& paths);

    // Draws the picture file into the preview box, in the background; a file that does not
    // exist leaves the preview as it is. When the file holds no picture and its entry is still
    // selected, the entry is removed.
    void ShowPreview(const std::string& path);
    void SaveSettings();
    void LoadSettings();
    void UpdateCommandStates();

    // The About window, created with the main window.
    TForm4& Form4() const { return *m_form4; }

    // For tests: true while a preview or the size estimate is being worked out.
    bool PreviewPending() const;
    bool EstimatePending() const;

    // Where the settings live ($XDG_CONFIG_HOME/kestrom/pictova.conf).
    static QString SettingsFileName();

public slots:
    // The list commands (toolbar buttons and their popup items).
    void ToolButton1Click(); // Add files
    void ToolButton2Click(); // Add folder
    void ToolButton3Click(); // Remove
    void ToolButton4Click(); // Remove all
    void ToolButton5Click(); // Move up
    void ToolButton6Click(); // Move down
    void Addfiles1Click();
    void Addfolder1Click();
    void Remove1Click();
    void Removeall1Click();
    void Moveup1Click();
    void Movedown1Click();
    // Dragging inside the list and files dropped from outside.
    void ListView1EndDrag(QPoint point);
    void HandleDroppedFiles(const QList<QUrl>& urls);
    void ListView1Change();
    // The settings buttons.
    void ToolButton8Click(); // Save setting
    void ToolButton9Click(); // Load setting
    void TrackBar1Change();
    void BitBtn1Click(); // Convert
    void BitBtn3Click(); // Exit
    // The menus.
    void Exit1Click();
    void Help2Click();
    void Helponline1Click();
    void Kestromswebsite1Click();
    void Emailsupport1Click();
    void about1Click();

private:
    void CreateMainMenu();
    void CreateListPanel(QWidget* panel);
    void CreateSettingsPanel(QWidget* panel);
    QGroupBox* CreatePropertiesGroup();
    QGroupBox* CreateQualityGroup();
    void CreateStatusBar();
    void CreatePopupMenu();
    void SetTabOrder();
    void FormCreate();

    // The list's entries: the caption shows the path, the path's bytes ride along unchanged.
    int EntryCount() const;
    int SelectedIndex() const;
    std::string EntryPath(int index) const;
    void AppendEntry(const std::string& path);
    void SwapEntries(int a, int b);
    // Selects the entry (which runs the change handling); index < 0 selects nothing.
    void SelectEntry(int index);

    void PreviewDone(std::uint64_t request, const std::string& path, const QString& failure,
                     std::optional<TRaster> raster);
    // The size estimate restarts a moment after the list or the quality last changed.
    void ScheduleEstimate();
    void StartEstimate();
    void ShowEstimate(std::uint64_t request, std::int64_t bytes, bool final);

    IDialogs& m_dialogs;

    QToolBar* ToolBar1 = nullptr;
    QToolButton* ToolButton1 = nullptr;
    QToolButton* ToolButton2 = nullptr;
    QToolButton* ToolButton3 = nullptr;
    QToolButton* ToolButton4 = nullptr;
    QToolButton* ToolButton5 = nullptr;
    QToolButton* ToolButton6 = nullptr;
    TListView* ListView1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* Addfiles1 = nullptr;
    QAction* Addfolder1 = nullptr;
    QAction* Remove1 = nullptr;
    QAction* Removeall1 = nullptr;
    QAction* Moveup1 = nullptr;
    QAction* Movedown1 = nullptr;

    QToolBar* ToolBar2 = nullptr;
    QToolButton* ToolButton8 = nullptr;
    QToolButton* ToolButton9 = nullptr;
    QLabel* Image1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QLineEdit* Edit3 = nullptr;
    QLineEdit* Edit4 = nullptr;
    QDateEdit* DateTimePicker1 = nullptr;
    QTimeEdit* DateTimePicker2 = nullptr;
    QDateEdit* DateTimePicker3 = nullptr;
    QTimeEdit* DateTimePicker4 = nullptr;
    QLineEdit* Edit5 = nullptr;
    QLineEdit* Edit6 = nullptr;
    QSlider* TrackBar1 = nullptr;
    QLabel* Label1 = nullptr;  // "60%"
    QLabel* Label10 = nullptr; // the size estimate
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn3 = nullptr;

    std::unique_ptr<TForm4> m_form4;

    // The preview and the estimate are worked out off the window's thread; only the latest
    // request of each counts.
    TLatestJobWorker m_previewWorker;
    std::uint64_t m_previewRequest = 0;
    std::uint64_t m_previewAnswered = 0;
    TSizeEstimator m_estimator;
    TLatestJobWorker m_estimateWorker{true};
    std::uint64_t m_estimateRequest = 0;
    std::uint64_t m_estimateAnswered = 0;
    QTimer m_estimateTimer;
};

// The date-time of a date picker's day (whole days) or of a time picker's time of day
// (fraction), and the pickers set from a date-time.
TDateTime DateValue(const QDateEdit& picker);
TDateTime TimeValue(const QTimeEdit& picker);
void SetDateTimeValue(QDateEdit& picker, TDateTime value);
void SetDateTimeValue(QTimeEdit& picker, TDateTime value);
