#pragma once

#include <QString>
#include <functional>

class QWidget;
class TransferState;

// Runs a long copy or delete on a worker thread. The window stays painted but takes no input,
// as under an hourglass; past half a second a modal window shows the file at hand, the files
// and bytes done with the rate, and "Cancel", which asks the worker to stop.
namespace progressRun {

enum class Kind
{
    Copy,
    Delete
};
void run(QWidget *parent, Kind kind, TransferState &state, const std::function<void()> &work);

// For the worker: runs show on the window's thread and waits until it is done (a message
// box the user answers), so the work goes on only after OK.
void showFromWorker(QWidget *parent, const std::function<void()> &show);

// "12.5 MB of 1,024.0 MB, 48.2 MB/s": what the progress window says of the bytes.
QString bytesText(qint64 done, qint64 total, double seconds);

// How long the work runs before the progress window shows.
constexpr int showAfterMs = 500;

} // namespace progressRun
