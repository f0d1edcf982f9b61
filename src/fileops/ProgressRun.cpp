#include "ProgressRun.h"

#include "FileTransfers.h"
#include "TransferJob.h"
#include "platform/WorkPool.h"
#include "ui/MessageBoxes.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLocale>
#include <QProgressDialog>
#include <QPushButton>
#include <QThread>
#include <QTimer>

namespace progressRun {

namespace {
using Kind = TransferJob::Kind;

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

QList<int> run(QWidget *parent, TransferJob &job, const QString &failureTitle)
{
    const Kind kind = job.kind();
    const TransferState &state = job.state();
    // The hourglass, and what a dialog covered redrawn, before the work begins.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    parent->window()->repaint();

    bool finished = false;
    QList<int> done;
    QEventLoop loop;
    QObject::connect(&job, &TransferJob::finished, &loop, [&](const QList<int> &rows) {
        finished = true;
        done = rows;
        loop.quit();
    });
    // The one message of a failure: with the normal pointer, and the work goes on after OK.
    QObject::connect(&job, &TransferJob::failed, parent,
                     [&job, parent, failureTitle](const QString &text) {
                         if (!job.isInterruptionRequested()) {
                             const bool hourglass = QApplication::overrideCursor();
                             if (hourglass)
                                 QApplication::restoreOverrideCursor();
                             messages::stop(parent, text, failureTitle);
                             if (hourglass)
                                 QApplication::setOverrideCursor(Qt::WaitCursor);
                         }
                         job.resume();
                     });
    QElapsedTimer clock;
    clock.start();
    workPool().start(Lane::now, [&job] { job.run(); });
    // First the hourglass: painted, but no input reaches the window.
    QTimer::singleShot(showAfterMs, &loop, &QEventLoop::quit);
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
        const auto show = [&] { update(dialog, kind, state, clock.elapsed() / 1000.0); };
        // Cancel, Escape or the close box: the job stops at the next chance; the window
        // stays until it has, so nothing is touched while a file is half done.
        QObject::connect(&dialog, &QProgressDialog::canceled, &dialog, [&] {
            job.requestInterruption();
            cancel->setEnabled(false);
            show();
            dialog.show();
        });
        QObject::connect(&job, &TransferJob::progress, &dialog, show);
        show();
        dialog.show();
        loop.exec();
    }
    if (!finished) {
        // The program is ending (a logout, the media controls' Quit) and took the loops with
        // it: the file at hand is finished or left without a trace, the rest is not begun.
        job.requestInterruption();
        while (!finished) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            QThread::msleep(10);
        }
    }
    job.waitForExit();
    return done;
}

} // namespace progressRun
