#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

// The two value texts of the "File" panel.
struct PanelTexts
{
    QString dateTime; // date above time, "var" for several files, empty for none
    QString bytes;    // the total grouped in threes, empty for 0
};

// Facts about the selected files of one directory. Files that vanished or cannot be read
// since the list was read are left out of both the count and the total.
PanelTexts detailsOf(const QString &directory, const QStringList &selectedNames,
                     const QLocale &locale = QLocale());

// The locale's short date, then its long time on the next line; midnight shows the date alone.
QString dateTimeText(const QDateTime &when, const QLocale &locale = QLocale());
// "##,###,###,###": grouped digits with the locale's separator, empty for 0.
QString groupedBytes(qint64 total, const QLocale &locale = QLocale());
