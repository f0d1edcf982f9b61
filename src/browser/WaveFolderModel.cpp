#include "WaveFolderModel.h"

#include "files/FileFacts.h"
#include "files/LoudnessFacts.h"
#include "files/WaveDetails.h"
#include "files/WaveListing.h"
#include "platform/BriefWait.h"
#include "platform/FileUris.h"
#include "platform/NativeName.h"
#include "platform/PathRule.h"
#include "ui/ListSelection.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>

namespace {
// "PCM 16-bit" and "IEEE float 32-bit" say their bits; the companded ones are 8-bit.
int bitsOf(const QString &encoding)
{
    static const QRegularExpression bits(QStringLiteral("(\\d+)-bit"));
    if (const QRegularExpressionMatch match = bits.match(encoding); match.hasMatch())
        return match.captured(1).toInt();
    if (encoding.contains(QLatin1String("law")))
        return 8;
    return 0;
}

QString decibels(double value, const char *unit)
{
    return QStringLiteral("%1 %2").arg(value, 0, 'f', 1).arg(QLatin1String(unit));
}
} // namespace

WaveFolderModel::WaveFolderModel(QObject *parent) : QAbstractTableModel(parent) {}

void WaveFolderModel::setFacts(FileFacts *facts)
{
    m_facts = facts;
}

void WaveFolderModel::setLooks(std::shared_ptr<const EntryLooks> looks)
{
    m_looks = std::move(looks);
}

std::optional<Result<QStringList>> WaveFolderModel::listBriefly(
    const QString &folder, std::function<void(const Result<QStringList> &)> late)
{
    // The listing that shows next; whoever shows it makes it the current one.
    const quint64 listing = m_listing + 1;
    Lister lister = m_lister ? m_lister : Lister(&listWaveFiles);
    return waitBriefly<Result<QStringList>>(
        this, [lister, folder] { return lister(folder); },
        [this, listing, late = std::move(late)](const Result<QStringList> &answer) {
            if (listing == m_listing)
                late(answer);
        });
}

Result<> WaveFolderModel::list(const QString &folder)
{
    const std::optional<Result<QStringList>> listing =
        listBriefly(folder, [this, folder](const Result<QStringList> &answer) {
            if (answer.ok()) {
                setEntries(folder, answer.value());
                return;
            }
            emit unlisted(folder, answer.error());
        });
    if (!listing) {
        setEntries(folder, {});
        return {};
    }
    if (!listing->ok())
        return Result<>::failure(listing->error());
    setEntries(folder, listing->value());
    return {};
}

void WaveFolderModel::showUnreadable(const QString &folder)
{
    setEntries(folder, {});
}

void WaveFolderModel::relist(const std::function<void()> &shown)
{
    const QString folder = m_folder;
    const auto show = [this, folder, shown](const Result<QStringList> &answer) {
        setEntries(folder, answer.ok() ? answer.value() : QStringList());
        if (shown)
            shown();
    };
    const std::optional<Result<QStringList>> listing = listBriefly(folder, show);
    if (listing) {
        show(*listing);
        return;
    }
    // What shows stays meanwhile; an earlier listing's answer is no longer wanted.
    ++m_listing;
}

void WaveFolderModel::setEntries(const QString &folder, const QStringList &names)
{
    ++m_listing;
    beginResetModel();
    m_folder = folder;
    m_names = names;
    m_rows.clear();
    endResetModel();
}

QStringList WaveFolderModel::paths() const
{
    QStringList all;
    all.reserve(m_names.size());
    for (const QString &name : m_names)
        all.append(fullPath(m_folder, name));
    return all;
}

QStringList WaveFolderModel::namesOf(const QList<int> &rows) const
{
    QStringList names;
    names.reserve(rows.size());
    for (int row : rows)
        names.append(m_names.value(row));
    return names;
}

QStringList WaveFolderModel::pathsOf(const QList<int> &rows) const
{
    QStringList paths;
    paths.reserve(rows.size());
    for (int row : rows)
        paths.append(row >= 0 && row < m_names.size() ? pathOf(row) : QString());
    return paths;
}

QString WaveFolderModel::pathOf(int row) const
{
    return fullPath(m_folder, m_names[row]);
}

QModelIndex WaveFolderModel::indexOf(const QString &name) const
{
    if (m_rows.isEmpty() && !m_names.isEmpty()) {
        m_rows.reserve(m_names.size());
        for (int row = 0; row < m_names.size(); ++row)
            m_rows.insert(m_names[row], row);
    }
    const int row = m_rows.value(name, -1);
    return row >= 0 ? index(row, Name) : QModelIndex();
}

void WaveFolderModel::infoChanged(const QString &path)
{
    rowChanged(path, Name, Name, {PlayableRole, ProblemRole, Qt::ForegroundRole, Qt::ToolTipRole});
    rowChanged(path, Length, Bits, {Qt::DisplayRole, SortRole});
    rowChanged(path, Date, Date, {Qt::DisplayRole, SortRole});
}

void WaveFolderModel::loudnessChanged(const QString &path)
{
    rowChanged(path, Name, Name,
               {DamagedRole, LoudnessRole, EntryLooks::markRole, Qt::ToolTipRole});
    rowChanged(path, LoudnessColumn, TruePeak, {Qt::DisplayRole, SortRole});
}

void WaveFolderModel::pictureChanged(const QString &path)
{
    rowChanged(path, Name, Name, {Qt::ToolTipRole});
}

void WaveFolderModel::rowChanged(const QString &path, int firstColumn, int lastColumn,
                                 const QList<int> &roles)
{
    const QString name = fileNameOf(path);
    if (fullPath(m_folder, name) != path)
        return; // another folder's file, read for a tooltip
    if (const QModelIndex entry = indexOf(name); entry.isValid())
        emit dataChanged(index(entry.row(), firstColumn), index(entry.row(), lastColumn), roles);
}

int WaveFolderModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_names.size());
}

int WaveFolderModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant WaveFolderModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const QString &name = m_names[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        return index.column() == Name ? QVariant(shownName(name))
                                      : figure(index.row(), index.column(), role);
    case Qt::EditRole:
    case NameRole:
        return name;
    case PathRole:
        return fullPath(m_folder, name);
    case SortRole:
        return index.column() == Name ? QVariant(name) : figure(index.row(), index.column(), role);
    case Qt::ToolTipRole:
    case Qt::ForegroundRole:
    case EntryLooks::markRole:
        return index.column() == Name && m_looks ? m_looks->look(index, role) : QVariant();
    case PlayableRole:
    case ProblemRole: {
        const auto facts = m_facts ? m_facts->known(fullPath(m_folder, name)) : std::nullopt;
        if (!facts)
            return {};
        if (role == PlayableRole)
            return facts->info.playable();
        return facts->info.problem;
    }
    case DamagedRole:
    case LoudnessRole: {
        const auto loudness =
            m_facts ? m_facts->loudness().known(fullPath(m_folder, name)) : std::nullopt;
        if (!loudness)
            return {};
        if (role == DamagedRole)
            return loudness->damaged();
        if (const std::optional<double> lufs = loudness->integrated())
            return *lufs;
        return {};
    }
    default:
        return {};
    }
}

QVariant WaveFolderModel::figure(int row, int column, int role) const
{
    if (!m_facts)
        return {};
    const bool text = role == Qt::DisplayRole;
    if (column == LoudnessColumn || column == TruePeak) {
        const auto loudness = m_facts->loudness().known(pathOf(row));
        if (!loudness || loudness->notNumbers || loudness->rateTooLow)
            return {};
        const double value =
            column == LoudnessColumn ? loudness->integratedLufs : loudness->truePeakDbtp;
        if (!(value > Loudness::silence))
            return {};
        return text ? QVariant(decibels(value, column == LoudnessColumn ? "LUFS" : "dBTP"))
                    : QVariant(value);
    }
    const auto facts = m_facts->known(pathOf(row));
    if (!facts || facts->missing())
        return {};
    const WaveInfo &info = facts->info;
    if (column == Date) {
        const QDateTime modified = QDateTime::fromMSecsSinceEpoch(facts->stamp.modifiedMs);
        return text ? QVariant(QLocale().toString(modified, QLocale::ShortFormat))
                    : QVariant(facts->stamp.modifiedMs);
    }
    if (!info.playable())
        return {};
    switch (column) {
    case Length:
        return text ? QVariant(lengthText(info.frames, info.sampleRate)) : QVariant(info.frames);
    case Rate:
        return text ? QVariant(QStringLiteral("%1 Hz").arg(info.sampleRate))
                    : QVariant(info.sampleRate);
    case Channels:
        return text ? QVariant(channelsText(info.channels)) : QVariant(info.channels);
    case Bits:
        if (const int bits = bitsOf(info.encoding); bits > 0)
            return bits;
        return {};
    default:
        return {};
    }
}

QVariant WaveFolderModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case Name:
        return tr("Name");
    case Length:
        return tr("Length");
    case Rate:
        return tr("Rate");
    case Channels:
        return tr("Channels");
    case Bits:
        return tr("Bits");
    case LoudnessColumn:
        return tr("Loudness");
    case TruePeak:
        return tr("True peak");
    case Date:
        return tr("Date");
    default:
        return {};
    }
}

Qt::ItemFlags WaveFolderModel::flags(const QModelIndex &index) const
{
    const Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    return index.isValid() ? flags | Qt::ItemIsDragEnabled | Qt::ItemNeverHasChildren : flags;
}

QStringList WaveFolderModel::mimeTypes() const
{
    return fileUris::types();
}

QMimeData *WaveFolderModel::mimeData(const QModelIndexList &indexes) const
{
    QStringList paths;
    for (int row : rowsOf(indexes))
        paths.append(pathOf(row));
    return fileUris::mimeData(paths);
}
