// What a flood of media-control calls costs the window: 10,000 Seek calls, then 10,000
// PlayPause calls, sent as fast as the bus takes them by a client on a thread of its own
// while one sound plays on SDL's dummy device. Reports the longest the window's thread went
// without serving its events (in wall time, which a loaded machine lengthens, and in the
// thread's own processor time, which is the program's doing), how many times the sound
// output was started, and how long a client waits for Position once the flood is over.
// Run under dbus-run-session.
#include "BenchCommon.h"
#include "BenchWaves.h"
#include "app/Form1.h"
#include "app/Mpris.h"
#include "app/Services.h"
#include "playback/NowPlaying.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDir>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <ctime>

namespace {

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// The real output, counting its starts: each is a file opened and its start decoded.
class CountingOutput final : public SoundOutput
{
public:
    bool play(const QString &path) override { return start(PlayRequest::whole(path)); }
    bool start(const PlayRequest &request) override
    {
        ++starts;
        return m_real.start(request);
    }
    std::optional<HeardPosition> heard() const override { return m_real.heard(); }
    void stop() override { m_real.stop(); }
    bool drained() const override { return m_real.drained(); }
    int deviceCount() override { return m_real.deviceCount(); }
    void setDrainedHandler(std::function<void()> handler) override
    {
        m_real.setDrainedHandler(std::move(handler));
    }
    std::atomic<int> starts = 0;

private:
    SdlSoundOutput m_real;
};

QDBusMessage playerCall(const QString &method, const QVariantList &arguments = {})
{
    QDBusMessage message =
        QDBusMessage::createMethodCall(Mpris::serviceName, Mpris::objectPath,
                                       QStringLiteral("org.mpris.MediaPlayer2.Player"), method);
    message.setArguments(arguments);
    return message;
}

// Sends the calls on a connection of its own, waits for every answer, then times one
// Position.
class Flood final : public QThread
{
public:
    Flood(QString method, QVariantList arguments, int count)
        : m_method(std::move(method)), m_arguments(std::move(arguments)), m_count(count)
    {
    }
    double allAnsweredMs = 0;
    double positionMs = 0;

protected:
    void run() override
    {
        QDBusConnection bus =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("flood"));
        QElapsedTimer timer;
        timer.start();
        QList<QDBusPendingCall> pending;
        pending.reserve(m_count);
        for (int i = 0; i < m_count; ++i)
            pending.append(bus.asyncCall(playerCall(m_method, m_arguments), 60000));
        for (QDBusPendingCall &call : pending)
            call.waitForFinished();
        allAnsweredMs = timer.nsecsElapsed() / 1e6;
        timer.restart();
        QDBusMessage get = QDBusMessage::createMethodCall(
            Mpris::serviceName, Mpris::objectPath,
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get << QStringLiteral("org.mpris.MediaPlayer2.Player") << QStringLiteral("Position");
        bus.call(get);
        positionMs = timer.nsecsElapsed() / 1e6;
    }

private:
    QString m_method;
    QVariantList m_arguments;
    int m_count;
};

struct Figures
{
    double longestHoldMs = 0;
    double longestBusyMs = 0;
    double allAnsweredMs = 0;
    double positionMs = 0;
    int starts = 0;
};

// The window's thread ticks every millisecond while the flood runs; the longest gap between
// two ticks is the longest it was held.
Figures measure(CountingOutput &output, const QString &method, const QVariantList &arguments)
{
    constexpr int calls = 10000;
    Flood flood(method, arguments, calls);
    QElapsedTimer sinceTick;
    double longest = 0;
    double longestBusy = 0;
    double cpuAtTick = threadCpuMs();
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = std::max(longest, sinceTick.nsecsElapsed() / 1e6);
        sinceTick.restart();
        const double cpu = threadCpuMs();
        longestBusy = std::max(longestBusy, cpu - cpuAtTick);
        cpuAtTick = cpu;
    });
    const int startsBefore = output.starts;
    QEventLoop loop;
    QObject::connect(&flood, &QThread::finished, &loop, &QEventLoop::quit);
    sinceTick.start();
    cpuAtTick = threadCpuMs();
    tick.start();
    flood.start();
    loop.exec();
    tick.stop();
    // What the last calls left to do (one restart, at most) is done too.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 200)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    return {longest, longestBusy, flood.allAnsweredMs, flood.positionMs,
            output.starts - startsBefore};
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER"))
        qputenv("SDL_AUDIODRIVER", "dummy");
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    qputenv("XDG_CACHE_HOME", home.path().toUtf8());
    QApplication app(argc, argv);
    if (!QDBusConnection::sessionBus().isConnected()) {
        std::fprintf(stderr, "no session bus: run under dbus-run-session\n");
        return 1;
    }
    // A folder of its own, with one ten-minute take.
    QTemporaryDir music;
    const QString take = music.filePath(QStringLiteral("take.wav"));
    writeTone(take, 600 * 8000, 8000, 1);
    QDir::setCurrent(music.path());

    IniSettingsStore settings;
    CountingOutput output;
    SndfileWaveLength waveLength;
    MonotonicClock clock;
    SystemVolumes volumes;
    SystemDesktop desktop;
    SystemFileOperations files;
    Form1 form(Services{settings, output, waveLength, clock, volumes, desktop, files});
    form.show();
    MediaControl control = form.mediaControl([] {});
    NowPlaying &now = *control.now;
    Mpris mpris(std::move(control), &app);
    if (!mpris.registerOnBus()) {
        std::fprintf(stderr, "the MPRIS name is taken\n");
        return 1;
    }
    if (!now.play(take)) {
        std::fprintf(stderr, "the take does not play: no device\n");
        return 1;
    }
    QElapsedTimer started;
    started.start();
    while (started.elapsed() < 300)
        QApplication::processEvents(QEventLoop::AllEvents, 10);

    const QString goal = QStringLiteral("goal < 100 ms");
    const Figures seeks = measure(output, QStringLiteral("Seek"), {qlonglong(1000)});
    report("10,000 Seek: longest hold of the window", seeks.longestHoldMs, "ms", goal);
    report("10,000 Seek: of which the window's own work", seeks.longestBusyMs, "ms", goal);
    report("10,000 Seek: starts of the output", seeks.starts, "", QStringLiteral("one per 50 ms"));
    report("10,000 Seek: all answered after", seeks.allAnsweredMs, "ms",
           QStringLiteral("bus and QtDBus"));
    report("10,000 Seek: then Position answered in", seeks.positionMs, "ms", goal);
    const Figures toggles = measure(output, QStringLiteral("PlayPause"), {});
    report("10,000 PlayPause: longest hold of the window", toggles.longestHoldMs, "ms", goal);
    report("10,000 PlayPause: of which the window's own work", toggles.longestBusyMs, "ms", goal);
    report("10,000 PlayPause: starts of the output", toggles.starts, "",
           QStringLiteral("one per 50 ms"));
    report("10,000 PlayPause: all answered after", toggles.allAnsweredMs, "ms",
           QStringLiteral("bus and QtDBus"));
    report("10,000 PlayPause: then Position answered in", toggles.positionMs, "ms", goal);
    return 0;
}
