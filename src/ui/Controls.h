#pragma once

#include <QFontMetrics>
#include <QLabel>
#include <QRect>
#include <QWidget>
#include <algorithm>
#include <utility>

// Makes a control of a form: its design name as objectName, placed at its designed
// rectangle (already converted from twips). Constructor arguments come before the parent.
template <typename Control, typename... Args>
Control *placed(QWidget *parent, const char *name, const QRect &designed, Args &&...args)
{
    auto *control = new Control(std::forward<Args>(args)..., parent);
    control->setObjectName(QLatin1String(name));
    control->setGeometry(designed);
    return control;
}

// Shows text in a label, in the base font or, where the text is wider than the label (long
// date formats such as "7 Dec 2026"), in a smaller one that shows it whole instead of cut.
inline void setFittingText(QLabel *label, const QFont &base, const QString &text)
{
    constexpr double smallestPointSize = 6.0;
    constexpr double step = 0.5;
    QFont font = base;
    for (;;) {
        const QFontMetrics metrics(font);
        int widest = 0;
        for (const QString &line : text.split(QLatin1Char('\n')))
            widest = std::max(widest, metrics.horizontalAdvance(line));
        if (widest <= label->width() || font.pointSizeF() <= smallestPointSize)
            break;
        font.setPointSizeF(font.pointSizeF() - step);
    }
    label->setFont(font);
    label->setText(text);
}
