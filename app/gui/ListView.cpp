#include "app/gui/ListView.h"

#include <algorithm>

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>

TListView::TListView(QWidget* parent) : QTableWidget(0, 1, parent)
{
    setHorizontalHeaderLabels({QStringLiteral("File list")});
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setHighlightSections(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setTextElideMode(Qt::ElideNone);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    // Drags are this class's own (see mouseMoveEvent); the view's built-in ones stay off.
    setDragEnabled(false);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    FitColumn();
}

void TListView::FitColumn()
{
    int width = std::max(kFileListMinWidth, viewport()->width());
    const QFontMetrics metrics(font());
    for (int row = 0; row < rowCount(); ++row)
        if (const QTableWidgetItem* entry = item(row, 0))
            width = std::max(width, metrics.horizontalAdvance(entry->text()) + 12);
    setColumnWidth(0, width);
}

void TListView::mousePressEvent(QMouseEvent* event)
{
    m_pressPoint = event->position().toPoint();
    m_pressedOnEntry = event->button() == Qt::LeftButton && rowAt(m_pressPoint.y()) >= 0;
    QTableWidget::mousePressEvent(event);
}

void TListView::mouseMoveEvent(QMouseEvent* event)
{
    // The list starts a drag by itself when an entry is dragged with the mouse.
    if (m_pressedOnEntry && (event->buttons() & Qt::LeftButton) &&
        (event->position().toPoint() - m_pressPoint).manhattanLength() >=
            QApplication::startDragDistance())
    {
        m_pressedOnEntry = false;
        auto* entry = new QMimeData;
        entry->setData(QString::fromLatin1(kEntryMimeType), QByteArray::number(currentRow()));
        auto* drag = new QDrag(this);
        drag->setMimeData(entry);
        drag->exec(Qt::MoveAction);
        return;
    }
    QTableWidget::mouseMoveEvent(event);
}

bool TListView::AcceptsDrag(const QDropEvent* event) const
{
    const QMimeData* dragged = event->mimeData();
    // An entry drag only from this very list; files only from outside it.
    if (dragged->hasFormat(QString::fromLatin1(kEntryMimeType)))
        return event->source() == this;
    return event->source() == nullptr && dragged->hasUrls();
}

void TListView::ShowDropLine(const QDropEvent* event)
{
    int y = -1;
    if (event->mimeData()->hasFormat(QString::fromLatin1(kEntryMimeType)) && rowCount() > 0)
    {
        const int row = rowAt(event->position().toPoint().y());
        y = row >= 0 ? rowViewportPosition(row)
                     : rowViewportPosition(rowCount() - 1) + rowHeight(rowCount() - 1) - 1;
    }
    if (y != m_dropLineY)
    {
        m_dropLineY = y;
        viewport()->update();
    }
}

void TListView::dragEnterEvent(QDragEnterEvent* event)
{
    dragMoveEvent(event);
}

void TListView::dragMoveEvent(QDragMoveEvent* event)
{
    if (!AcceptsDrag(event))
    {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    ShowDropLine(event);
}

void TListView::dragLeaveEvent(QDragLeaveEvent* event)
{
    m_dropLineY = -1;
    viewport()->update();
    QTableWidget::dragLeaveEvent(event);
}

void TListView::dropEvent(QDropEvent* event)
{
    m_dropLineY = -1;
    viewport()->update();
    if (!AcceptsDrag(event))
    {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    if (event->mimeData()->hasFormat(QString::fromLatin1(kEntryMimeType)))
        emit EntryDropped(event->position().toPoint());
    else
        emit FilesDropped(event->mimeData()->urls());
}

void TListView::paintEvent(QPaintEvent* event)
{
    QTableWidget::paintEvent(event);
    if (m_dropLineY < 0)
        return;
    QPainter painter(viewport());
    painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
    painter.drawLine(0, m_dropLineY, viewport()->width(), m_dropLineY);
}

void TListView::resizeEvent(QResizeEvent* event)
{
    QTableWidget::resizeEvent(event);
    FitColumn();
}
