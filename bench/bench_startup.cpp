// Start-up without the splash: construct the main window, show it, wait for its first paint.
#include "BenchCommon.h"
#include "app/Form1.h"

#include <QApplication>
#include <QEvent>
#include <QTemporaryDir>

namespace {
class FirstPaint final : public QObject
{
public:
    bool painted = false;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return false;
    }
};
} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    QElapsedTimer total;
    total.start();
    QApplication app(argc, argv);
    const double appMs = total.nsecsElapsed() / 1e6;

    QElapsedTimer timer;
    timer.start();
    SystemServices system;
    Form1 form(system.services());
    FirstPaint paint;
    form.installEventFilter(&paint);
    form.show();
    while (!paint.painted)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double formMs = timer.nsecsElapsed() / 1e6;

    report("QApplication construction", appMs, "ms", QStringLiteral("(platform, not ours)"));
    report("Form1 construct + show + first paint", formMs, "ms", QStringLiteral("goal < 100 ms"));
    report("resident memory after start", residentMiB(), "MiB", QStringLiteral("goal < 60 MiB"));
    return 0;
}
