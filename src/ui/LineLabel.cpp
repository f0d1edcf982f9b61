#include "LineLabel.h"

#include <QPainter>
#include <QTextLayout>

namespace {
// Wide enough to show that a line is there and cut; the window gives it the rest.
constexpr int fewestCharacters = 4;
// What a wrapped line asks for before its window is sized: a sentence, not the whole text.
constexpr int wrappedCharacters = 40;
} // namespace

LineLabel::LineLabel(Overflow overflow, QWidget *parent) : QLabel(parent), m_overflow(overflow)
{
    setTextFormat(Qt::PlainText);
    if (overflow == Overflow::Wrap) {
        QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }
}

QStringList LineLabel::linesAt(int width) const
{
    const QFontMetrics metrics = fontMetrics();
    QString shown = text();
    if (m_overflow != Overflow::Wrap) {
        shown.replace(u'\n', u' ');
        return {metrics.elidedText(shown,
                                   m_overflow == Overflow::Elide ? Qt::ElideRight : Qt::ElideMiddle,
                                   std::max(width, 0))};
    }
    // Between words where it can, anywhere inside a word longer than the line (a path).
    shown.replace(u'\n', QChar::LineSeparator);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    QTextLayout layout(shown, font());
    layout.setTextOption(option);
    layout.beginLayout();
    QStringList lines;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(std::max(width, 1));
        QString part = shown.mid(line.textStart(), line.textLength());
        while (!part.isEmpty() && (part.back().isSpace() || part.back() == QChar::LineSeparator))
            part.chop(1);
        lines.append(part);
    }
    layout.endLayout();
    if (lines.isEmpty())
        lines.append(QString());
    return lines;
}

QStringList LineLabel::shownLines() const
{
    return linesAt(contentsRect().width());
}

QSize LineLabel::sizeHint() const
{
    const QMargins margins = contentsMargins();
    const int lineHeight = fontMetrics().lineSpacing();
    int width = fontMetrics().horizontalAdvance(text());
    if (m_overflow == Overflow::Wrap)
        width = std::min(width, fontMetrics().averageCharWidth() * wrappedCharacters);
    const int height =
        m_overflow == Overflow::Wrap ? int(linesAt(width).size()) * lineHeight : lineHeight;
    return QSize(width, height).grownBy(margins);
}

QSize LineLabel::minimumSizeHint() const
{
    const QSize least(fontMetrics().averageCharWidth() * fewestCharacters,
                      fontMetrics().lineSpacing());
    return least.grownBy(contentsMargins());
}

bool LineLabel::hasHeightForWidth() const
{
    return m_overflow == Overflow::Wrap;
}

int LineLabel::heightForWidth(int width) const
{
    if (m_overflow != Overflow::Wrap)
        return QLabel::heightForWidth(width);
    const QMargins margins = contentsMargins();
    const int inner = width - margins.left() - margins.right();
    return int(linesAt(inner).size()) * fontMetrics().lineSpacing() + margins.top() +
           margins.bottom();
}

void LineLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    const QRect area = contentsRect();
    const int lineHeight = fontMetrics().lineSpacing();
    int top = area.top();
    for (const QString &line : linesAt(area.width())) {
        painter.drawText(QRect(area.left(), top, area.width(), lineHeight),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, line);
        top += lineHeight;
    }
}
