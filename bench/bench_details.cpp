// What the tooltips and the marks cost: details from the header of a small file and of
// files of several gigabytes, the waveform of a short and of a huge file, and the listing of
// 32,767 files with and without the marks of the rows in view.
#include "BenchCommon.h"
#include "BenchWaves.h"
#include "browser/FileList.h"
#include "files/FileFacts.h"
#include "platform/WaveInfo.h"

#include <QApplication>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>
#include <vector>

namespace {

// A take whose iXML chunk holds one element of 70,000 attributes (about 760 KB), then the
// fields; written by hand, as libsndfile writes no chunk that large.
void writeCrowdedIxml(const QString &path)
{
    QByteArray xml = "<BWFXML><TRACK_LIST";
    for (int i = 0; i < 70000; ++i)
        xml += " a" + QByteArray::number(i) + "=\"\"";
    xml += "/><SCENE>7</SCENE><TAKE>2</TAKE><NOTE>n</NOTE></BWFXML>";
    if (xml.size() % 2)
        xml += ' ';
    const QByteArray data(9600, '\0');
    QByteArray body = "WAVE" + pcmFormat() + "iXML" + le32(quint32(xml.size())) + xml + "data" +
                      le32(quint32(data.size())) + data;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write("RIFF" + le32(quint32(body.size())) + body);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString small = dir.filePath("small.wav");
    const QString tenSeconds = dir.filePath("ten.wav");
    const QString huge = dir.filePath("huge.wav");
    const QString rf64 = dir.filePath("huge-rf64.wav");
    writeTone(small, 1000, 44100, 2); // 4 KB
    writeTone(tenSeconds, 441000, 44100, 2);
    writeHuge(huge, 3900000000ull, false);
    writeHuge(rf64, 5000000000ull, true);
    for (const QString &path : {small, huge, rf64})
        if (!readWaveInfo(path).playable())
            std::printf("%s: %s\n", qPrintable(path), qPrintable(readWaveInfo(path).problem));

    const double smallDetails = medianOf(51, [&] { readWaveInfo(small); });
    const double hugeDetails = medianOf(51, [&] { readWaveInfo(huge); });
    const double rf64Details = medianOf(51, [&] { readWaveInfo(rf64); });
    report("details, 4 KB file (median of 51)", smallDetails, "ms", "goal < 2 ms");
    report("details, 3.9 GB file", hugeDetails, "ms",
           QStringLiteral("goal < 2 ms; %1x the small one (goal < 1.5)")
               .arg(hugeDetails / smallDetails, 0, 'f', 2));
    report("details, 5 GB RF64 file", rf64Details, "ms",
           QStringLiteral("goal < 2 ms; %1x the small one")
               .arg(rf64Details / smallDetails, 0, 'f', 2));

    const QString crowded = dir.filePath("crowded.wav");
    writeCrowdedIxml(crowded);
    const double crowdedDetails = medianOf(9, [&] { readWaveInfo(crowded); });
    report("details, iXML of 70,000 attributes", crowdedDetails, "ms",
           QStringLiteral("goal < 50 ms; scene \"%1\"").arg(readWaveInfo(crowded).scene));

    const double residentBefore = residentMiB();
    const double tenPicture = medianOf(9, [&] { readWavePeaks(tenSeconds, 240); });
    const double hugePicture = medianOf(9, [&] { readWavePeaks(huge, 240); });
    report("waveform, 10 s file (median of 9)", tenPicture, "ms", "goal < 40 ms");
    report("waveform, 3.9 GB file", hugePicture, "ms",
           QStringLiteral("goal < 40 ms; %1x the 10 s one (goal < 2)")
               .arg(hugePicture / tenPicture, 0, 'f', 2));
    report("resident memory grown by the pictures", residentMiB() - residentBefore, "MiB",
           "does not grow with the file");

    // 32,767 files named like recordings; each holds a few bytes, none can be played.
    const QString folder = dir.filePath("many");
    QDir().mkdir(folder);
    for (int i = 0; i < 32767; ++i) {
        const int fd =
            ::open(QFile::encodeName(folder + QStringLiteral("/take%1.wav").arg(i)).constData(),
                   O_CREAT | O_WRONLY, 0644);
        [[maybe_unused]] auto n = ::write(fd, "RIFF", 4);
        ::close(fd);
    }
    std::atomic_int reads = 0;
    FileFacts facts(nullptr, [&reads](const QString &path) {
        ++reads;
        return readWaveInfo(path);
    });
    FileList plain(nullptr);
    FileList marked(nullptr);
    marked.setFacts(&facts);
    for (FileList *list : {&plain, &marked}) {
        list->resize(170, 420); // about 30 rows, as File1 at its usual size
        list->show();
    }
    QApplication::processEvents();
    // The first listing with marks: until the rows in view are marked.
    QElapsedTimer t;
    t.start();
    if (!marked.setPath(folder).ok())
        qFatal("the folder cannot be listed");
    const double firstListing = t.nsecsElapsed() / 1e6;
    const int visible = marked.indexAt(QPoint(1, marked.viewport()->height() - 1)).row() + 1;
    int ready = 0;
    QObject::connect(&facts, &FileFacts::infoReady, [&ready] { ++ready; });
    while (ready < visible && t.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    const double marksReady = t.nsecsElapsed() / 1e6 - firstListing;

    if (!plain.setPath(folder).ok())
        qFatal("the folder cannot be listed");
    QApplication::processEvents();
    const auto listing = [&folder](FileList &list) {
        return medianOf(9, [&] {
            if (!list.setPath(folder).ok())
                qFatal("the folder cannot be listed");
            QApplication::processEvents();
        });
    };
    const double withoutMarks = listing(plain);
    const double withMarks = listing(marked);
    report("listing 32,767 + paint, no marks (median)", withoutMarks, "ms", "reference");
    report("listing 32,767, marks on", withMarks, "ms",
           QStringLiteral("goal within 10%: %1%")
               .arg((withMarks / withoutMarks - 1) * 100, 0, 'f', 1));
    report("marks of the rows in view ready", marksReady, "ms",
           QStringLiteral("goal < 150 ms; %1 rows, %2 files opened of 32,767")
               .arg(visible)
               .arg(int(reads)));
    return 0;
}
