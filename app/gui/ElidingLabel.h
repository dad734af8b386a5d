#pragma once

#include <QLabel>

// A one-line label that keeps its whole text (for the program and for assistive technology) and
// shows what does not fit as an ellipsis, so a long path or tip never spills or is cut mid-glyph.
class TElidingLabel : public QLabel
{
public:
    explicit TElidingLabel(Qt::TextElideMode mode, QWidget* parent = nullptr);
    // As small as a layout likes: the text is cut to whatever width it gets.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Qt::TextElideMode m_mode;
};
