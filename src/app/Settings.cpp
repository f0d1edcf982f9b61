#include "Settings.h"

#include "platform/SettingsStore.h"

#include <QLocale>
#include <algorithm>
#include <cmath>

namespace {
const QString startup = QStringLiteral("Startup");
const QString soundEditorSection = QStringLiteral("SoundEditor");
const QString keyAutosave = QStringLiteral("Autosave");
const QString keyAutoCondition = QStringLiteral("AutoCondition");
const QString keyButtons = QStringLiteral("Buttons");
const QString keyFile2Dir = QStringLiteral("File2Dir");
const QString keyWaveform = QStringLiteral("Waveform");
const QString keyAutoPreview = QStringLiteral("AutoPreview");
const QString keyWidth = QStringLiteral("Width");
const QString keyHeight = QStringLiteral("Height");
const QString keyLeft = QStringLiteral("Left");
const QString keyTop = QStringLiteral("Top");
const QString keyDefault = QStringLiteral("Default");
} // namespace

const double Settings::designedWidth = 7815;
const double Settings::designedHeight = 5100;

Settings::Settings(SettingsStore &store) : m_store(store) {}

QString Settings::defaultSoundEditor()
{
#ifdef Q_OS_WIN
    return QStringLiteral("sndrec32.exe");
#else
    return QStringLiteral("audacity");
#endif
}

QString Settings::boolText(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

bool Settings::parseBool(const std::optional<QString> &text, bool fallback)
{
    if (!text)
        return fallback;
    const QString t = text->trimmed();
    if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    // A hand-edited number counts too: 0 is false, anything else true ("-1" was true).
    bool ok = false;
    const double number = QLocale::c().toDouble(t, &ok);
    return ok ? number != 0 : fallback;
}

double Settings::parseSingle(const std::optional<QString> &text, double fallback)
{
    if (!text)
        return fallback;
    bool ok = false;
    const float value = QLocale::c().toFloat(text->trimmed(), &ok);
    return ok && std::isfinite(value) ? value : fallback;
}

QString Settings::singleText(double value)
{
    return QString::number(static_cast<float>(value), 'g', 7);
}

SettingsState Settings::readStyle() const
{
    SettingsState state;
    state.autosave = parseBool(m_store.read(startup, keyAutosave), false);
    state.autoCondition = parseBool(m_store.read(startup, keyAutoCondition), false);
    state.soundEditor = m_store.read(soundEditorSection, keyDefault).value_or(defaultSoundEditor());
    if (state.autosave) {
        state.buttons = parseBool(m_store.read(startup, keyButtons), true);
        state.file2Dir = parseBool(m_store.read(startup, keyFile2Dir), true);
        state.waveform = parseBool(m_store.read(startup, keyWaveform), false);
        state.autoPreview = parseBool(m_store.read(startup, keyAutoPreview), false);
    }
    return state;
}

OuterGeometry Settings::readGeometry(QSizeF screen, QSizeF minimum) const
{
    OuterGeometry g;
    // A stored size below the window's minimum would be raised by the layout anyway; raise
    // it here so the default position centres the size the window will really have.
    g.width =
        std::max(parseSingle(m_store.read(startup, keyWidth), designedWidth), minimum.width());
    g.height =
        std::max(parseSingle(m_store.read(startup, keyHeight), designedHeight), minimum.height());
    const float centredLeft =
        static_cast<float>(screen.width()) / 2 - static_cast<float>(g.width) / 2;
    g.left = parseSingle(m_store.read(startup, keyLeft), centredLeft);
    const float centredTop =
        static_cast<float>(screen.height()) / 2 - static_cast<float>(g.height) / 2;
    g.top = parseSingle(m_store.read(startup, keyTop), centredTop);
    return g;
}

bool Settings::writeAtClosing(const SettingsState &state, const OuterGeometry &geometry)
{
    bool saved = writeAutosave(state.autosave);
    saved = writeAutoCondition(state.autoCondition) && saved;
    if (state.autosave) {
        saved = m_store.write(startup, keyButtons, boolText(state.buttons)) && saved;
        saved = m_store.write(startup, keyFile2Dir, boolText(state.file2Dir)) && saved;
        saved = m_store.write(startup, keyWaveform, boolText(state.waveform)) && saved;
        saved = m_store.write(startup, keyAutoPreview, boolText(state.autoPreview)) && saved;
    }
    if (state.autoCondition) {
        saved = m_store.write(startup, keyWidth, singleText(geometry.width)) && saved;
        saved = m_store.write(startup, keyHeight, singleText(geometry.height)) && saved;
        saved = m_store.write(startup, keyTop, singleText(geometry.top)) && saved;
        saved = m_store.write(startup, keyLeft, singleText(geometry.left)) && saved;
    }
    return saved;
}

bool Settings::writeAutosave(bool value)
{
    return m_store.write(startup, keyAutosave, boolText(value));
}

bool Settings::writeAutoCondition(bool value)
{
    return m_store.write(startup, keyAutoCondition, boolText(value));
}

bool Settings::writeSoundEditor(const QString &command)
{
    return m_store.write(soundEditorSection, keyDefault, command);
}

QString Settings::location() const
{
    return m_store.location();
}
