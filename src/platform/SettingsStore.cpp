#include "SettingsStore.h"

namespace {
QString path(const QString &section, const QString &key)
{
    return section + QLatin1Char('/') + key;
}
} // namespace

IniSettingsStore::IniSettingsStore()
    : m_settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("QuillonSonoret"),
                 QStringLiteral("QuillonSonoret"))
{
}

std::optional<QString> IniSettingsStore::read(const QString &section, const QString &key) const
{
    const QVariant value = m_settings.value(path(section, key));
    if (!value.isValid())
        return std::nullopt;
    // A hand-edited "Width=7815, 5100" comes back as a list; treat it as the text it was.
    if (value.metaType().id() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

bool IniSettingsStore::write(const QString &section, const QString &key, const QString &text)
{
    m_settings.setValue(path(section, key), text);
    m_settings.sync();
    return m_settings.status() == QSettings::NoError;
}

QString IniSettingsStore::location() const
{
    return m_settings.fileName();
}
