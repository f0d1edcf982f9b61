#pragma once

#include <QRect>
#include <QWidget>
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
