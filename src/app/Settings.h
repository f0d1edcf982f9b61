#pragma once

#include <QSizeF>
#include <QString>
#include <optional>

class SettingsStore;

// The preferences kept between runs, as the main window holds them.
struct SettingsState
{
    bool autosave = false;
    bool autoCondition = false;
    QString soundEditor;
    bool buttons = true;
    bool file2Dir = false;
    // The audition band and the preview as the current entry moves; off unless stored.
    bool waveform = false;
    bool autoPreview = false;
};

// The main window's outer size and position, in twips.
struct OuterGeometry
{
    double width = 0;
    double height = 0;
    double left = 0;
    double top = 0;
};

// Reads and writes the preferences over the settings store; keys, defaults and the text
// forms ("True", "7815") live here and nowhere else.
class Settings final
{
public:
    explicit Settings(SettingsStore &store);

    static const double designedWidth;
    static const double designedHeight;
    static QString defaultSoundEditor();

    // Autosave, AutoCondition, the editor, then Buttons, File2Dir, Waveform and AutoPreview
    // when Autosave is on.
    SettingsState readStyle() const;
    // Only when AutoCondition is on: the stored size (raised to minimum) and a position
    // that defaults to the centre of the screen for that size.
    OuterGeometry readGeometry(QSizeF screen, QSizeF minimum) const;

    // What closing writes: the two switches always, the style and the geometry when asked.
    // Each write answers false when the settings file could not be written.
    bool writeAtClosing(const SettingsState &state, const OuterGeometry &geometry);
    bool writeAutosave(bool value);
    bool writeAutoCondition(bool value);
    bool writeSoundEditor(const QString &command);
    // The settings file, to name it when it cannot be written.
    QString location() const;

    static QString boolText(bool value);
    static bool parseBool(const std::optional<QString> &text, bool fallback);
    static double parseSingle(const std::optional<QString> &text, double fallback);
    static QString singleText(double value);

private:
    SettingsStore &m_store;
};
