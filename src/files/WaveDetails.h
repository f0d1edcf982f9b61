#pragma once

#include "platform/WaveInfo.h"

#include <QLocale>
#include <QString>

// The tooltip text of an entry: what the name and the size cannot tell.

// "3:25.4": rounded to the nearest tenth first, so 59.95 s is "1:00.0"; from an hour on
// "1:00:00.0".
QString lengthText(qint64 frames, int sampleRate);
// "##,###,###,###": grouped digits with the locale's separator, empty for 0.
QString groupedBytes(qint64 total, const QLocale &locale = QLocale());
// "mono", "stereo", "6 channels".
QString channelsText(int channels);
// A time reference (samples since midnight) at the file's rate: "10:00:00.000".
QString timecodeText(quint64 samples, int sampleRate);

// Rich text: the format lines, the metadata the file carries, and the picture at pictureUrl
// when one is given; "Cannot be played: …" for a file that cannot be played.
// The loudness line, when given, follows the format lines.
QString detailsHtml(const WaveInfo &info, const QLocale &locale = QLocale(),
                    const QString &pictureUrl = {}, const QString &loudnessLine = {});
// The play list's entry whose file has gone.
QString missingHtml(const QString &path);
