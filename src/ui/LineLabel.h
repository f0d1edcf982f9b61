#pragma once

#include <QLabel>

// A message that never runs past its label's edge, however long it is: wrapped onto more
// lines (between words, or inside a long path that has no space to break at), or cut with an
// ellipsis, its whole text in the tooltip. The label's text stays whole either way, as a screen
// reader reads it, and a long text never widens the window it is in.
class LineLabel : public QLabel
{
    Q_OBJECT
public:
    enum class Overflow
    {
        Wrap,
        Elide,
        // Cut in the middle: a path keeps its start and its last folder's name.
        ElideMiddle
    };
    LineLabel(Overflow overflow, QWidget *parent);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;

    // The text as painted at the label's width: the lines it wraps into, or the one line
    // cut short.
    QStringList shownLines() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QStringList linesAt(int width) const;
    Overflow m_overflow;
};
