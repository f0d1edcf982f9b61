#pragma once

#include <QSettings>
#include <QString>
#include <optional>

// The per-user settings store: text values addressed by section and key.
class SettingsStore
{
public:
    virtual ~SettingsStore() = default;
    // nullopt when the key is absent.
    virtual std::optional<QString> read(const QString &section, const QString &key) const = 0;
    // False when the value could not be saved (a read-only folder, a full disk).
    virtual bool write(const QString &section, const QString &key, const QString &text) = 0;
    // The file the store lives in, to name it when it cannot be written.
    virtual QString location() const = 0;
};

// ~/.config/QuillonSonoret/QuillonSonoret.ini, written through at once so that a toggle
// reaches the disk even if the session is killed afterwards.
class IniSettingsStore final : public SettingsStore
{
public:
    IniSettingsStore();
    std::optional<QString> read(const QString &section, const QString &key) const override;
    bool write(const QString &section, const QString &key, const QString &text) override;
    QString location() const override;

private:
    mutable QSettings m_settings;
};
