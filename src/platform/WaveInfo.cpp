#include "WaveInfo.h"

#include "WaveFile.h"

#include <QXmlStreamReader>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <sndfile.h>
#include <vector>

namespace {

// Fixed-width text fields of the broadcast extension are not always terminated.
QString fixedText(const char *field, std::size_t size)
{
    const char *end = std::find(field, field + size, '\0');
    return QString::fromUtf8(field, end - field).trimmed();
}

QString stringOf(SNDFILE *file, int kind)
{
    const char *text = sf_get_string(file, kind);
    return text ? QString::fromUtf8(text).trimmed() : QString();
}

void readBroadcast(SNDFILE *file, WaveInfo &info)
{
    SF_BROADCAST_INFO bext{};
    if (sf_command(file, SFC_GET_BROADCAST_INFO, &bext, sizeof bext) != SF_TRUE)
        return;
    info.description = fixedText(bext.description, sizeof bext.description);
    info.originator = fixedText(bext.originator, sizeof bext.originator);
    info.originatorReference =
        fixedText(bext.originator_reference, sizeof bext.originator_reference);
    info.originationDate = fixedText(bext.origination_date, sizeof bext.origination_date);
    info.originationTime = fixedText(bext.origination_time, sizeof bext.origination_time);
    info.timeReference = (quint64(bext.time_reference_high) << 32) | bext.time_reference_low;
}

void readMarkers(SNDFILE *file, WaveInfo &info)
{
    // SF_CUES holds up to 100 markers, more than a tooltip can show anyway.
    auto cues = std::make_unique<SF_CUES>();
    if (sf_command(file, SFC_GET_CUE, cues.get(), sizeof(SF_CUES)) == SF_TRUE) {
        const quint32 count = std::min<quint32>(cues->cue_count, 100);
        for (quint32 i = 0; i < count; ++i) {
            info.cueLabels.append(
                fixedText(cues->cue_points[i].name, sizeof cues->cue_points[i].name));
            info.cueFrames.append(cues->cue_points[i].sample_offset);
        }
    }
    SF_INSTRUMENT instrument{};
    if (sf_command(file, SFC_GET_INSTRUMENT, &instrument, sizeof instrument) == SF_TRUE) {
        const int count = std::clamp(instrument.loop_count, 0, 16);
        for (int i = 0; i < count; ++i)
            info.loops.append({instrument.loops[i].start, instrument.loops[i].end});
    }
}

bool isNameChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.' ||
           c == ':' || static_cast<unsigned char>(c) >= 0x80;
}

// The text of one element's content: entities and CDATA resolved, child elements left out.
std::optional<QString> elementText(QByteArrayView content)
{
    // A field of a tooltip; content larger than this is not a scene name or a note.
    constexpr qsizetype largestField = 16 * 1024;
    if (content.size() > largestField)
        return std::nullopt;
    QXmlStreamReader xml(QByteArray("<x>") + content.toByteArray() + QByteArray("</x>"));
    if (!xml.readNextStartElement())
        return std::nullopt;
    const QString text = xml.readElementText(QXmlStreamReader::SkipChildElements);
    if (xml.hasError())
        return std::nullopt;
    return text.trimmed();
}

void readIxml(SNDFILE *file, WaveInfo &info)
{
    SF_CHUNK_INFO wanted{};
    std::copy_n("iXML", 4, wanted.id);
    wanted.id_size = 4;
    SF_CHUNK_ITERATOR *chunk = sf_get_chunk_iterator(file, &wanted);
    if (!chunk)
        return;
    SF_CHUNK_INFO found{};
    // A tooltip needs three short fields; a chunk of megabytes is somebody else's business.
    constexpr unsigned largestIxml = 1 << 20;
    if (sf_get_chunk_size(chunk, &found) != SF_ERR_NO_ERROR || found.datalen == 0 ||
        found.datalen > largestIxml)
        return;
    std::vector<char> data(found.datalen);
    found.data = data.data();
    if (sf_get_chunk_data(chunk, &found) != SF_ERR_NO_ERROR)
        return;
    readIxmlFields(QByteArrayView(data.data(), static_cast<qsizetype>(data.size())), info);
}

} // namespace

void readIxmlFields(QByteArrayView xml, WaveInfo &info)
{
    const auto skipPast = [&xml](qsizetype from, QByteArrayView end) {
        const qsizetype at = xml.indexOf(end, from);
        return at < 0 ? xml.size() : at + end.size();
    };
    qsizetype at = 0;
    while ((at = xml.indexOf('<', at)) >= 0) {
        const QByteArrayView rest = xml.sliced(at);
        if (rest.startsWith("<!--")) {
            at = skipPast(at, "-->");
            continue;
        }
        if (rest.startsWith("<![CDATA[")) {
            at = skipPast(at, "]]>");
            continue;
        }
        qsizetype nameEnd = at + 1;
        while (nameEnd < xml.size() && isNameChar(xml[nameEnd]))
            ++nameEnd;
        const QByteArrayView name = xml.sliced(at + 1, nameEnd - at - 1);
        QString *field = name == "SCENE"  ? &info.scene
                         : name == "TAKE" ? &info.take
                         : name == "NOTE" ? &info.note
                                          : nullptr;
        // '<' cannot stand inside an attribute value, so the next one starts the next tag.
        at = nameEnd;
        if (!field || !field->isEmpty())
            continue;
        // The tag ends at the first '>' outside a quoted attribute value.
        qsizetype tagEnd = nameEnd;
        for (char quote = 0; tagEnd < xml.size(); ++tagEnd) {
            const char c = xml[tagEnd];
            if (quote)
                quote = c == quote ? 0 : quote;
            else if (c == '"' || c == '\'')
                quote = c;
            else if (c == '>')
                break;
        }
        if (tagEnd >= xml.size())
            return;
        at = tagEnd + 1;
        if (xml[tagEnd - 1] == '/')
            continue; // <NOTE/>
        const QByteArray closing = "</" + name.toByteArray();
        const qsizetype close = xml.indexOf(closing, at);
        if (close < 0)
            return;
        if (const std::optional<QString> text = elementText(xml.sliced(at, close - at)))
            *field = *text;
        at = close;
    }
}

namespace {

QString encodingName(int subtype)
{
    switch (subtype) {
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_S8:
        return QStringLiteral("PCM 8-bit");
    case SF_FORMAT_PCM_16:
        return QStringLiteral("PCM 16-bit");
    case SF_FORMAT_PCM_24:
        return QStringLiteral("PCM 24-bit");
    case SF_FORMAT_PCM_32:
        return QStringLiteral("PCM 32-bit");
    case SF_FORMAT_FLOAT:
        return QStringLiteral("IEEE float 32-bit");
    case SF_FORMAT_DOUBLE:
        return QStringLiteral("IEEE float 64-bit");
    case SF_FORMAT_ULAW:
        return QStringLiteral("µ-law");
    case SF_FORMAT_ALAW:
        return QStringLiteral("A-law");
    case SF_FORMAT_IMA_ADPCM:
        return QStringLiteral("IMA ADPCM");
    case SF_FORMAT_MS_ADPCM:
        return QStringLiteral("MS ADPCM");
    case SF_FORMAT_GSM610:
        return QStringLiteral("GSM 6.10");
    case SF_FORMAT_G721_32:
        return QStringLiteral("G.721 ADPCM");
    case SF_FORMAT_MPEG_LAYER_III:
        return QStringLiteral("MPEG Layer III");
    default: {
        // Whatever a newer libsndfile decodes, under the name it gives it.
        SF_FORMAT_INFO format{};
        format.format = subtype;
        if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &format, sizeof format) == 0 && format.name)
            return QString::fromUtf8(format.name);
        return QStringLiteral("unknown encoding");
    }
    }
}

QString containerName(int container)
{
    return container == SF_FORMAT_WAVEX  ? QStringLiteral("WAV (extensible)")
           : container == SF_FORMAT_RF64 ? QStringLiteral("RF64")
                                         : QStringLiteral("WAV");
}

} // namespace

WaveInfo readWaveInfo(const QString &path)
{
    WaveInfo info;
    const Result<std::unique_ptr<WaveFile>> opened = WaveFile::open(path);
    if (!opened.ok()) {
        info.problem = opened.error();
        return info;
    }
    const std::unique_ptr<WaveFile> &wave = opened.value();
    SNDFILE *file = wave->handle();
    info.encoding = encodingName(wave->encoding());
    info.container = containerName(wave->container());
    info.sampleRate = wave->sampleRate();
    info.channels = wave->channels();
    info.frames = wave->frames();
    readBroadcast(file, info);
    info.title = stringOf(file, SF_STR_TITLE);
    info.artist = stringOf(file, SF_STR_ARTIST);
    info.comment = stringOf(file, SF_STR_COMMENT);
    info.software = stringOf(file, SF_STR_SOFTWARE);
    readMarkers(file, info);
    readIxml(file, info);
    return info;
}

WavePeaks readWavePeaks(const QString &path, int columns)
{
    WavePeaks peaks;
    if (columns <= 0)
        return peaks;
    const Result<std::unique_ptr<WaveFile>> opened = WaveFile::open(path);
    if (!opened.ok() || opened.value()->frames() <= 0)
        return peaks;
    const std::unique_ptr<WaveFile> &wave = opened.value();
    const int channels = wave->channels();
    // One short window per column past this length; below it the file is read whole.
    constexpr qint64 windowFrames = 1024;
    const qint64 frames = wave->frames();
    const bool whole = frames <= columns * windowFrames * 2;
    peaks.channels = channels;
    peaks.columns = columns;
    peaks.values.fill(0.0f, qsizetype(columns) * channels);
    std::vector<float> buffer(std::size_t(windowFrames) * channels);
    for (int column = 0; column < columns; ++column) {
        const qint64 first = frames * column / columns;
        const qint64 end = std::max(first + 1, frames * (column + 1) / columns);
        qint64 left = whole ? end - first : std::min(end - first, windowFrames);
        if (!wave->seek(first))
            break;
        while (left > 0) {
            const qint64 got = wave->read(buffer.data(), std::min(left, windowFrames));
            if (got <= 0)
                break;
            for (qint64 frame = 0; frame < got; ++frame)
                for (int channel = 0; channel < channels; ++channel) {
                    float &peak = peaks.values[column * channels + channel];
                    const float magnitude =
                        std::min(1.0f, std::fabs(buffer[frame * channels + channel]));
                    peak = std::max(peak, magnitude);
                }
            left -= got;
        }
    }
    return peaks;
}
