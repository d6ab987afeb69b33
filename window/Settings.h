#pragma once
// The per-user settings store: texts addressed by application name, section and key. Here one
// INI file per user, named after the application name, a group per section.

#include <QString>

inline constexpr char kSettingsApplication[] = "Halvessa";
inline constexpr char kSettingsSection[] = "Brellix";

class SettingsStore {
public:
    // The store of the current user: <config folder>/Halvessa.ini.
    SettingsStore();
    // A store kept in the given INI file (tests use a temporary one).
    explicit SettingsStore(QString iniFile);

    // The stored text when the key exists (an empty text included), otherwise the default.
    QString read(const QString& key, const QString& defaultText) const;
    // Creates or replaces the key; lasting at once. Throws StepFailure when it cannot be written.
    void write(const QString& key, const QString& text);

    const QString& fileName() const { return file_; }

    static QString defaultFileName();

private:
    QString file_;
};
