#pragma once

#include <QList>
#include <QString>

class QWidget;
class TransferJob;

// Runs a long copy or delete on the work pool. The window stays painted but takes no input,
// as under an hourglass; past half a second a modal window shows the file at hand, the files
// and bytes done with the rate, and "Cancel", which asks the job to stop. The job's failure
// is told over parent with the normal pointer, and the job goes on after OK.
namespace progressRun {

// Returns the rows the job did.
QList<int> run(QWidget *parent, TransferJob &job, const QString &failureTitle);

// "12.5 MB of 1,024.0 MB, 48.2 MB/s": what the progress window says of the bytes.
QString bytesText(qint64 done, qint64 total, double seconds);

// How long the work runs before the progress window shows.
constexpr int showAfterMs = 500;

} // namespace progressRun
