#include "Settings.h"

#include "common/ErrorReport.h"

#include <QSettings>
#include <QStandardPaths>

namespace {
QString fullKey(const QString& key) {
    return QLatin1String(kSettingsSection) + QLatin1Char('/') + key;
}
}  // namespace

QString SettingsStore::defaultFileName() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1Char('/') + QLatin1String(kSettingsApplication) + QStringLiteral(".ini");
}

SettingsStore::SettingsStore() : file_(defaultFileName()) {}

SettingsStore::SettingsStore(QString iniFile) : file_(std::move(iniFile)) {}

QString SettingsStore::read(const QString& key, const QString& defaultText) const {
    const QSettings settings(file_, QSettings::IniFormat);
    const QVariant value = settings.value(fullKey(key));
    if (!value.isValid())
        return defaultText;
    return value.toString();
}

void SettingsStore::write(const QString& key, const QString& text) {
    QSettings settings(file_, QSettings::IniFormat);
    settings.setValue(fullKey(key), text);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        throw StepFailure(
            QStringLiteral("The setting \"%1\" could not be written to %2").arg(key, file_));
}
