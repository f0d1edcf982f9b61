#include "Audition.h"

#include "AuditionBand.h"
#include "AutoPreview.h"
#include "files/FileFacts.h"
#include "files/Loudness.h"
#include "files/LoudnessFacts.h"
#include "playback/NowPlaying.h"
#include "playback/Playback.h"
#include "ui/BusyState.h"
#include "ui/MessageBoxes.h"

#include <QAbstractItemView>
#include <QApplication>
#include <algorithm>

Audition::Audition(FileFacts &facts, NowPlaying &now, Playback &playback, const BusyState &busy,
                   List fileList, List playList, QWidget &window,
                   std::function<bool()> autoPreviewOn)
    : m_facts(facts), m_now(now), m_playback(playback), m_busy(busy), m_fileList(fileList),
      m_playList(playList), m_window(window), m_autoPreviewOn(std::move(autoPreviewOn)),
      m_band(new AuditionBand(facts, now, &window))
{
    m_band->setVisible(false);
    m_playback.setSinglePlay([this](const QString &path) { return singlePlay(path); });
    connect(m_band, &AuditionBand::playRequested, this, &Audition::playPart);
    connect(m_band, &AuditionBand::menuWanted, this, &Audition::menuWanted);
    connect(m_band, &AuditionBand::loopToggled, &m_now, &NowPlaying::setLooping);
    // The sound at hand goes on at the new level or loudness; a measurement that comes
    // while it plays brings it to its loudness.
    connect(m_band, &AuditionBand::levelChanged, this, &Audition::regain);
    connect(m_band, &AuditionBand::matchToggled, this, &Audition::regain);
    connect(m_band, &AuditionBand::loudnessChanged, this, [this] {
        if (m_bandShown && m_band->matchOn() && m_band->path() == m_now.path())
            regain();
    });
    connect(&m_now, &NowPlaying::started, this, &Audition::showFileAtHand);
    connect(&m_now, &NowPlaying::stopped, this, &Audition::showFileAtHand);
    // A file not read yet is read by the facts' worker, and its length told once it is.
    connect(&m_now, &NowPlaying::started, this, [this](const QString &path) {
        if (!tellLength(path))
            m_facts.requestDetails(path);
    });
    connect(&m_facts, &FileFacts::infoReady, this, &Audition::tellLength);
    // A band click on a file that turns out unplayable once a worker opened it.
    connect(&m_now, &NowPlaying::startRefused, this, [this](quint64 start) {
        if (start == m_bandStart)
            messages::stop(&m_window, Playback::unplayableText());
    });
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
        const bool other = std::any_of(m_others.cbegin(), m_others.cend(),
                                       [now](const Followed &list) { return list.view == now; });
        if (now == &m_fileList.view || now == &m_playList.view || other) {
            m_listAtHand = static_cast<QAbstractItemView *>(now);
            showFileAtHand();
        }
    });
    hear(m_fileList.view);
    hear(m_playList.view);
}

void Audition::follow(List list)
{
    m_others.append({&list.view, list.pathRole, list.loudnessRole});
    hear(list.view);
    connect(&list.view, &QObject::destroyed, this, [this, view = &list.view] {
        m_others.removeIf([view](const Followed &other) { return other.view == view; });
        if (m_listAtHand == view)
            m_listAtHand = nullptr;
    });
}

void Audition::hear(QAbstractItemView &list)
{
    connect(list.selectionModel(), &QItemSelectionModel::currentChanged, this,
            &Audition::showFileAtHand);
    // A list made anew (entries removed from the play list, a folder read) loses its
    // current entry without telling: looked at once the list has set the one it keeps.
    connect(list.model(), &QAbstractItemModel::modelReset, this, &Audition::showFileAtHand,
            Qt::QueuedConnection);
    auto *preview = new AutoPreview(&list);
    connect(preview, &AutoPreview::wanted, this,
            [this, view = &list](const QModelIndex &entry) { this->preview(view, entry); });
    connect(preview, &AutoPreview::held, this, [this] {
        if (m_autoPreviewOn() && !m_busy.busy())
            m_now.stop();
    });
}

Audition::~Audition()
{
    // The band goes with what it shows, before the window's controls: it reads the sound
    // at hand until it has gone.
    delete m_band;
}

void Audition::showBand(bool shown)
{
    m_bandShown = shown;
    m_band->setVisible(shown);
    showFileAtHand();
}

void Audition::placeBand(const QRect &geometry)
{
    m_band->setGeometry(geometry);
}

void Audition::toggleLoop()
{
    const bool on = m_bandShown ? !m_band->loopOn() : !m_now.looping();
    m_now.setLooping(on);
    m_band->showLoop(on);
}

void Audition::skip(int seconds)
{
    if (const std::optional<HeardPosition> at = m_now.heard())
        m_now.seek(std::max<qint64>(0, at->microseconds() + qint64(seconds) * 1000000));
}

Audition::Followed Audition::followedOf(const QAbstractItemView *list) const
{
    for (const Followed &other : m_others)
        if (list == other.view)
            return other;
    const List &own = list == &m_playList.view ? m_playList : m_fileList;
    return {&own.view, own.pathRole, own.loudnessRole};
}

QString Audition::pathOf(const QAbstractItemView *list, const QModelIndex &entry) const
{
    return entry.siblingAtColumn(0).data(followedOf(list).pathRole).toString();
}

void Audition::showFileAtHand()
{
    if (!m_bandShown)
        return;
    const QString sounding = m_now.path();
    const QAbstractItemView *list = m_listAtHand ? m_listAtHand : &m_fileList.view;
    const QModelIndex current = list->currentIndex();
    // The band shows an entry of the list whenever it can, the sound's own too when it
    // started from there: it then follows that entry's roles, whatever sorts it.
    if (sounding.isEmpty() || (current.isValid() && pathOf(list, current) == sounding)) {
        const Followed followed = followedOf(list);
        m_band->showEntry(current, {followed.pathRole, followed.loudnessRole});
        return;
    }
    m_band->showFile(sounding);
}

PlayRequest Audition::singlePlay(const QString &path) const
{
    PlayRequest request = PlayRequest::whole(path);
    // The band's level and loop, while the band is there to show them.
    if (m_bandShown) {
        request.gainDb = previewGainDb(path);
        request.loop = m_band->loopOn();
        request.loopFrom = 0;
    }
    return request;
}

double Audition::previewGainDb(const QString &path) const
{
    double gain = m_band->levelDb();
    if (m_band->matchOn())
        if (const std::optional<Loudness> loudness = m_facts.loudness().known(path);
            loudness && loudness->measured())
            gain += matchingGainDb(*loudness);
    return gain;
}

void Audition::regain()
{
    if (!m_now.path().isEmpty() && !m_playback.chainRunning())
        m_now.setGainDb(previewGainDb(m_now.path()));
}

void Audition::playPart(PlayRequest request)
{
    if (m_busy.busy())
        return;
    request.gainDb = previewGainDb(request.path);
    if (!m_now.start(request))
        messages::stop(&m_window, Playback::unplayableText());
    else
        m_bandStart = m_now.starts();
}

void Audition::preview(const QAbstractItemView *list, const QModelIndex &entry)
{
    if (!m_autoPreviewOn() || m_busy.busy() || !entry.isValid())
        return;
    // One that cannot be played is greyed already: it is passed over without a word, and
    // what sounded of the entry before ends all the same.
    if (!m_now.start(singlePlay(pathOf(list, entry))))
        m_now.stop();
}

bool Audition::tellLength(const QString &path)
{
    // What the facts already hold; the window's thread never opens the file for it.
    if (path.isEmpty() || path != m_now.path())
        return false;
    const std::optional<FileFacts::Facts> known = m_facts.known(path);
    if (!known || known->missing() || known->info.sampleRate <= 0)
        return false;
    m_now.setLength(path, known->info.frames, known->info.sampleRate);
    return true;
}
