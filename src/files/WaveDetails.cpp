#include "WaveDetails.h"

#include <QStringList>
#include <algorithm>

namespace {

QString twoDigits(qint64 value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

QString line(const QString &label, const QString &value)
{
    return QStringLiteral("<b>%1:</b> %2").arg(label, value.toHtmlEscaped());
}

} // namespace

QString lengthText(qint64 frames, int sampleRate)
{
    if (sampleRate <= 0 || frames < 0)
        return {};
    // Integer rounding: a length of gigabytes at 1 Hz is still exact.
    const qint64 tenths = (frames * 20 + sampleRate) / (2 * qint64(sampleRate));
    const qint64 seconds = tenths / 10;
    const QString tail = QStringLiteral("%1.%2").arg(twoDigits(seconds % 60)).arg(tenths % 10);
    if (seconds < 3600)
        return QStringLiteral("%1:%2").arg(seconds / 60).arg(tail);
    return QStringLiteral("%1:%2:%3").arg(seconds / 3600).arg(twoDigits(seconds / 60 % 60), tail);
}

QString groupedBytes(qint64 total, const QLocale &locale)
{
    if (total == 0)
        return {};
    // Always threes, whatever grouping the locale uses for other numbers.
    const QString digits = QString::number(total);
    const QString separator = locale.groupSeparator();
    QString text;
    for (qsizetype i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            text += separator;
        text += digits[i];
    }
    return text;
}

QString channelsText(int channels)
{
    if (channels == 1)
        return QStringLiteral("mono");
    if (channels == 2)
        return QStringLiteral("stereo");
    return QStringLiteral("%1 channels").arg(channels);
}

QString timecodeText(quint64 samples, int sampleRate)
{
    if (sampleRate <= 0)
        return {};
    const quint64 seconds = samples / quint64(sampleRate);
    const quint64 milliseconds = samples % quint64(sampleRate) * 1000 / quint64(sampleRate);
    return QStringLiteral("%1:%2:%3.%4")
        .arg(twoDigits(qint64(seconds / 3600)), twoDigits(qint64(seconds / 60 % 60)),
             twoDigits(qint64(seconds % 60)))
        .arg(milliseconds, 3, 10, QLatin1Char('0'));
}

QString detailsHtml(const WaveInfo &info, const QLocale &locale, const QString &pictureUrl,
                    const QString &loudnessLine)
{
    if (!info.playable())
        return QStringLiteral("Cannot be played: ") + info.problem.toHtmlEscaped();
    // Grouped as the details panel groups, also where the locale would not (C).
    const auto number = [&locale](qint64 value) {
        return value == 0 ? QStringLiteral("0") : groupedBytes(value, locale);
    };
    QStringList lines;
    lines << QStringLiteral("%1, %2 Hz, %3")
                 .arg(info.encoding, number(info.sampleRate), channelsText(info.channels))
                 .toHtmlEscaped();
    lines << QStringLiteral("%1, %2")
                 .arg(lengthText(info.frames, info.sampleRate), info.container)
                 .toHtmlEscaped();
    if (!loudnessLine.isEmpty())
        lines << loudnessLine.toHtmlEscaped();
    const auto add = [&lines](const QString &label, const QString &value) {
        if (!value.isEmpty())
            lines << line(label, value);
    };
    add(QStringLiteral("Title"), info.title);
    add(QStringLiteral("Artist"), info.artist);
    add(QStringLiteral("Description"), info.description);
    add(QStringLiteral("Comment"), info.comment);
    add(QStringLiteral("Originator"), info.originator);
    add(QStringLiteral("Recorded"),
        QStringLiteral("%1 %2").arg(info.originationDate, info.originationTime).trimmed());
    if (info.timeReference)
        add(QStringLiteral("Time reference"), timecodeText(*info.timeReference, info.sampleRate));
    add(QStringLiteral("Software"), info.software);
    add(QStringLiteral("Scene"), info.scene);
    add(QStringLiteral("Take"), info.take);
    add(QStringLiteral("Note"), info.note);
    if (!info.cueLabels.isEmpty()) {
        QStringList labels = info.cueLabels;
        labels.removeAll(QString());
        add(QStringLiteral("Markers"),
            labels.isEmpty() ? number(info.cueLabels.size())
                             : QStringLiteral("%1 (%2)").arg(number(info.cueLabels.size()),
                                                             labels.join(QStringLiteral(", "))));
    }
    // Frames from the first to the last of the loop, as the file and the editors count them.
    for (const WaveInfo::Loop &loop : info.loops)
        add(QStringLiteral("Loop"),
            QStringLiteral("%1 to %2")
                .arg(number(loop.start),
                     number(std::max(loop.start, loop.end) - (loop.end > loop.start ? 1 : 0))));
    QString html = lines.join(QStringLiteral("<br>"));
    if (!pictureUrl.isEmpty())
        html += QStringLiteral("<br><img src=\"%1\">").arg(pictureUrl);
    return html;
}

QString missingHtml(const QString &path)
{
    return (QStringLiteral("Missing: ") + path).toHtmlEscaped();
}
