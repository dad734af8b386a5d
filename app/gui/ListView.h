#pragma once

#include <QList>
#include <QPoint>
#include <QTableWidget>
#include <QUrl>

// The picture list's control: one column of paths with grid lines, whole-row single selection,
// not editable. It takes files dropped from a file manager and lets an entry be dragged to
// another place; what either means is the window's business (the signals).
class TListView : public QTableWidget
{
    Q_OBJECT
public:
    explicit TListView(QWidget* parent = nullptr);

    // The column "File list" as wide as the longest entry, at least its minimum and the view.
    void FitColumn();

signals:
    // An entry of this list was dragged and dropped at point (viewport coordinates).
    void EntryDropped(QPoint point);
    // Local files were dropped from outside.
    void FilesDropped(const QList<QUrl>& urls);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool AcceptsDrag(const QDropEvent* event) const;
    // Shows where a dragged entry would land: before the entry under point, or after the last.
    void ShowDropLine(const QDropEvent* event);

    int m_dropLineY = -1; // viewport y of the landing line, -1 when none

    QPoint m_pressPoint;
    bool m_pressedOnEntry = false;
};

// The drag of an entry inside the list.
inline constexpr const char* kEntryMimeType = "application/x-pictova-list-entry";
// The column's least width.
inline constexpr int kFileListMinWidth = 210;
