#include "app/gui/ElidingLabel.h"

#include <QPainter>

TElidingLabel::TElidingLabel(Qt::TextElideMode mode, QWidget* parent) : QLabel(parent), m_mode(mode)
{
    setTextFormat(Qt::PlainText);
}

QSize TElidingLabel::sizeHint() const
{
    return {1, QLabel::sizeHint().height()};
}

QSize TElidingLabel::minimumSizeHint() const
{
    return sizeHint();
}

void TElidingLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect area = contentsRect();
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(area, static_cast<int>(alignment()),
                     fontMetrics().elidedText(text(), m_mode, area.width()));
}
