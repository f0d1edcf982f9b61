#include "ProgressRun.h"

#include "FileTransfers.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLocale>
#include <QProgressDialog>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <thread>

namespace progressRun {

namespace {
// The progress window follows the worker this often: ten times a second and more.
constexpr int tickMs = 50;

QString megabytes(qint64 bytes)
{
    return QLocale().toString(double(bytes) / 1e6, 'f', 1);
}

void update(QProgressDialog &dialog, Kind kind, const TransferState &state, double seconds)
{
    const int done = state.filesDone;
    QString text =
        (kind == Kind::Copy ? QStringLiteral("Copying %1") : QStringLiteral("Deleting %1"))
            .arg(state.current()) +
        QStringLiteral("\n%1 of %2 files").arg(done).arg(state.filesTotal);
    if (kind == Kind::Copy) {
        text += QLatin1Char('\n') + bytesText(state.bytesDone, state.bytesTotal, seconds);
        dialog.setMaximum(1000);
        dialog.setValue(state.bytesTotal > 0 ? int(state.bytesDone * 1000 / state.bytesTotal) : 0);
    } else {
        dialog.setMaximum(std::max(1, state.filesTotal));
        dialog.setValue(done);
    }
    if (state.cancel)
        text += QStringLiteral("\nStopping…");
    dialog.setLabelText(text);
}
} // namespace

QString bytesText(qint64 done, qint64 total, double seconds)
{
    QString text = QStringLiteral("%1 of %2 MB").arg(megabytes(done), megabytes(total));
    if (seconds > 0)
        text += QStringLiteral(", %1 MB/s").arg(megabytes(qint64(done / seconds)));
    return text;
}

void run(QWidget *parent, Kind kind, TransferState &state, const std::function<void()> &work)
{
    // The hourglass, and what a dialog covered redrawn, before the work begins.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    parent->window()->repaint();

    std::atomic_bool finished = false;
    QElapsedTimer clock;
    clock.start();
    std::thread worker([&] {
        work();
        finished = true;
    });
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(tickMs);
    // First the hourglass: painted, but no input reaches the window.
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (finished || clock.elapsed() >= showAfterMs)
            loop.quit();
    });
    tick.start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    QApplication::restoreOverrideCursor();

    if (!finished) {
        QProgressDialog dialog(parent);
        dialog.setWindowTitle(kind == Kind::Copy ? QStringLiteral("Copy")
                                                 : QStringLiteral("Delete"));
        dialog.setWindowModality(Qt::ApplicationModal);
        dialog.setAutoClose(false);
        dialog.setAutoReset(false);
        dialog.setMinimumDuration(0);
        dialog.setMinimumWidth(360);
        // The dialog's own button: a second one would leave two Escape shortcuts, and Escape
        // would then do nothing at all.
        dialog.setCancelButtonText(QStringLiteral("Cancel"));
        auto *cancel = dialog.findChild<QPushButton *>();
        // Cancel, Escape or the close box: the worker stops at the next chance; the window
        // stays until it has, so nothing is touched while a file is half done.
        const auto stop = [&] {
            state.cancel = true;
            cancel->setEnabled(false);
            dialog.show();
        };
        QObject::connect(&dialog, &QProgressDialog::canceled, &dialog, stop);
        QObject::disconnect(&tick, nullptr, &loop, nullptr);
        QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
            update(dialog, kind, state, clock.elapsed() / 1000.0);
            if (finished)
                loop.quit();
        });
        update(dialog, kind, state, clock.elapsed() / 1000.0);
        dialog.show();
        loop.exec();
        tick.stop(); // it speaks to the dialog, which goes now
    }
    if (!finished) {
        // The program is ending (a logout, the media controls' Quit) and took the loops with
        // it: the file at hand is finished or left without a trace, the rest is not begun.
        state.cancel = true;
        while (!finished) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            QThread::msleep(tickMs / 5);
        }
    }
    worker.join();
}

void showFromWorker(QWidget *parent, const std::function<void()> &show)
{
    if (QThread::currentThread() == parent->thread()) {
        show();
        return;
    }
    QMetaObject::invokeMethod(parent, show, Qt::BlockingQueuedConnection);
}

} // namespace progressRun
