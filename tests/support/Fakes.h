#pragma once

#include "app/Services.h"

#include <QMap>
#include <QPointer>
#include <QSet>
#include <QStringList>
#include <algorithm>

// In-memory settings store that also records the order of writes ("Section/Key=value").
class FakeSettingsStore final : public SettingsStore
{
public:
    std::optional<QString> read(const QString &section, const QString &key) const override
    {
        const QString k = section + QLatin1Char('/') + key;
        if (!values.contains(k))
            return std::nullopt;
        return values.value(k);
    }
    bool write(const QString &section, const QString &key, const QString &text) override
    {
        const QString k = section + QLatin1Char('/') + key;
        writes.append(k + QLatin1Char('=') + text);
        if (!failing)
            values.insert(k, text);
        return !failing;
    }
    QString location() const override { return QStringLiteral("/fake/QuillonSonoret.ini"); }
    QMap<QString, QString> values;
    QStringList writes;
    // Like a settings file in a read-only folder: nothing is saved.
    bool failing = false;
};

// Time stands still unless a test moves it; `step` moves it on every reading.
class FakeClock final : public Clock
{
public:
    double seconds() const override
    {
        const double reading = now;
        now += step;
        return reading;
    }
    mutable double now = 1000.0;
    double step = 0.0;
};

// Records what was played; paths in `unplayable` fail at once as a broken file would, and
// those in `refusedLater` are taken and refused when the test calls answer(), as a file the
// worker opens and finds broken. A sound with an entry in `drainSeconds` reports itself
// drained that long after its start by `clock`; the others never report. A loop goes round
// at its end, or at the file's end in `frames`. A file's length is known from its start
// where `lengthsMs` has it.
class FakeSoundOutput final : public SoundOutput
{
public:
    bool play(const QString &path) override
    {
        attempts.append(path);
        if (unplayable.contains(path))
            return false;
        played.append(path);
        startedAt = clock ? clock->now : 0;
        sounding = true;
        startFrame = 0;
        loopEnd = 0;
        isRefused = false;
        return true;
    }
    bool refused() const override { return isRefused; }
    std::optional<HeardPosition> length() const override
    {
        if (played.isEmpty() || isRefused || !lengthsMs.contains(played.last()))
            return std::nullopt;
        return HeardPosition{lengthsMs.value(played.last()) * 48, 48000};
    }
    void setAnsweredHandler(std::function<void()> handler) override
    {
        answeredHandler = std::move(handler);
    }
    // The worker's answer for the sound last started.
    void answer()
    {
        if (!played.isEmpty() && refusedLater.contains(played.last())) {
            isRefused = true;
            sounding = false;
        }
        if (answeredHandler)
            answeredHandler();
    }
    bool start(const PlayRequest &request) override
    {
        requests.append(request);
        const bool started = play(request.path);
        startFrame = request.startFrame;
        if (request.loop) {
            loopFrom = request.loopFrom < 0 ? startFrame : std::min(request.loopFrom, startFrame);
            loopEnd = request.endFrame >= 0 ? request.endFrame : frames.value(request.path, 0);
        }
        return started;
    }
    // At 48 kHz from the frame asked for, by the test's clock, until stopped.
    std::optional<HeardPosition> heard() const override
    {
        if (!sounding)
            return std::nullopt;
        const double seconds = clock ? clock->now - startedAt : 0;
        qint64 frame = startFrame + qint64(seconds * 48000);
        if (loopEnd > loopFrom && frame >= loopEnd)
            frame = loopFrom + (frame - loopFrom) % (loopEnd - loopFrom);
        return HeardPosition{frame, 48000};
    }
    void stop() override
    {
        ++stops;
        sounding = false;
    }
    bool drained() const override
    {
        if (isRefused)
            return true;
        if (played.isEmpty() || !clock || !drainSeconds.contains(played.last()))
            return false;
        return clock->now >= startedAt + drainSeconds.value(played.last());
    }
    int deviceCount() override { return devices; }
    void setDrainedHandler(std::function<void()> handler) override
    {
        drainedHandler = std::move(handler);
    }
    // What the device does when the queue runs dry: the clock is the test's to move first.
    void tellDrained()
    {
        if (drainedHandler && drained())
            drainedHandler();
    }
    std::function<void()> drainedHandler;
    std::function<void()> answeredHandler;
    int devices = 1;
    QStringList attempts;
    QStringList played;
    QList<PlayRequest> requests;
    bool sounding = false;
    qint64 startFrame = 0;
    qint64 loopFrom = 0;
    qint64 loopEnd = 0;
    QMap<QString, qint64> frames;
    QSet<QString> unplayable;
    QSet<QString> refusedLater;
    bool isRefused = false;
    QMap<QString, qint64> lengthsMs;
    const FakeClock *clock = nullptr;
    QMap<QString, double> drainSeconds;
    double startedAt = 0;
    int stops = 0;
};

class FakeWaveLength final : public WaveLength
{
public:
    std::optional<qint64> lengthMs(const QString &path) const override
    {
        ++asked;
        if (lengths.contains(path))
            return lengths.value(path);
        return fallback;
    }
    QMap<QString, qint64> lengths;
    std::optional<qint64> fallback = 1000;
    mutable int asked = 0;
};

class FakeVolumes final : public Volumes
{
public:
    QList<Volume> mounted() const override { return volumes; }
    void followChanges(QObject *receiver, std::function<void()> changed) override
    {
        followers.append({receiver, std::move(changed)});
    }
    // What the system's volumes turned out to be, told as a read's late answer is.
    void answer(const QList<Volume> &now)
    {
        volumes = now;
        for (const auto &[receiver, changed] : followers)
            if (receiver)
                changed();
    }
    Result<> probe(const QString &root) const override
    {
        ++probes;
        if (failing.contains(root))
            return Result<>::failure(failing.value(root));
        return {};
    }
    QString currentDirectory() const override { return current; }
    bool setCurrentDirectory(const QString &dir) override
    {
        changes.append(dir);
        current = dir;
        return true;
    }
    QList<Volume> volumes{{QStringLiteral("/"), QString()}};
    QMap<QString, QString> failing; // root -> the system's text
    QString current = QStringLiteral("/");
    QStringList changes;
    mutable int probes = 0;
    QList<std::pair<QPointer<QObject>, std::function<void()>>> followers;
};

class FakeDesktop final : public Desktop
{
public:
    void beep() override { ++beeps; }
    bool startDetached(const QString &program, const QStringList &arguments) override
    {
        started.append(QStringList{program} + arguments);
        return startResult;
    }
    // Recorded as a start of "gio open"; answered at once with openFolderWhy.
    void openFolder(const QString &folder, QObject *,
                    std::function<void(const QString &)> done) override
    {
        started.append({QStringLiteral("gio"), QStringLiteral("open"), folder});
        done(openFolderWhy);
    }
    int beeps = 0;
    QList<QStringList> started;
    bool startResult = true;
    QString openFolderWhy;
};

// The real file operations, except that a file sent to the trash is recorded and deleted:
// the tests never fill the user's trash.
class TrashRecordingFiles final : public FileOperations
{
public:
    Result<> moveToTrash(const QString &path) override
    {
        trashed.append(path);
        return real.removeFile(path);
    }
    Result<> removeFile(const QString &path) override { return real.removeFile(path); }
    Result<> copy(const QString &source, const QString &destination, Sync sync,
                  const CopyProgress &progress) override
    {
        return real.copy(source, destination, sync, progress);
    }
    Result<> syncFolder(const QString &folder) override { return real.syncFolder(folder); }
    SystemFileOperations real;
    QStringList trashed;
};

// All fakes at once, with the real file operations (tests run them on temporary folders).
struct FakeServices
{
    FakeSettingsStore settings;
    FakeSoundOutput sound;
    FakeWaveLength waveLength;
    FakeClock clock;
    FakeVolumes volumes;
    FakeDesktop desktop;
    SystemFileOperations files;
    LoudnessMeasure measureLoudness = ::measureLoudness;

    FakeServices() { sound.clock = &clock; }
    Services services()
    {
        return {settings, sound, waveLength, clock, volumes, desktop, files, measureLoudness};
    }
};
