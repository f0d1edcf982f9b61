#pragma once

#include "files/Scheduler.h"
#include "files/WaveDetails.h"

#include <QDateTime>
#include <QLocale>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

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

// The panel's figures read by the scheduler, so a selection on a stalled disk never holds
// the window: each selection asks, and only the answer for the newest one is given; one
// that comes late for an older selection, or for a folder left since, is dropped.
class PanelReader final : public QObject
{
    Q_OBJECT
public:
    using Read = std::function<PanelTexts(const QString &directory, const QStringList &names)>;
    // read runs on a worker; detailsOf in the user's locale without one.
    explicit PanelReader(QObject *parent, Read read = {});
    void setRead(Read read) { m_read = std::move(read); }

    void ask(const QString &directory, const QStringList &selectedNames);
    // What is on its way is no longer wanted (another folder shows).
    void drop();

signals:
    void answered(const PanelTexts &texts);

private:
    Read m_read;
    Asker m_asker{this};
    Generation m_selection;
};
