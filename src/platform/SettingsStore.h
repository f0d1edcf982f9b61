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
    virtual void write(const QString &section, const QString &key, const QString &text) = 0;
};

// ~/.config/QuillonSonoret/QuillonSonoret.ini, written through at once so that a toggle
// reaches the disk even if the session is killed afterwards.
class IniSettingsStore final : public SettingsStore
{
public:
    IniSettingsStore();
    std::optional<QString> read(const QString &section, const QString &key) const override;
    void write(const QString &section, const QString &key, const QString &text) override;

private:
    mutable QSettings m_settings;
};
