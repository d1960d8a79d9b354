#pragma once

#include <QString>

#include <memory>

class QSettings;

// The texts of the server notices, by integer identifier. They come from the
// section "Log Online" of the configuration file "OrixClientAPP.ini" in the
// working directory; a few identifiers have built-in texts that replace the
// configured ones. The file is read only when a text is first looked up in
// it.
class LanguageManager
{
public:
    // Reads "OrixClientAPP.ini" relative to the working directory.
    LanguageManager();
    // Reads the given INI file instead.
    explicit LanguageManager(const QString& iniPath);
    ~LanguageManager();
    LanguageManager(const LanguageManager&) = delete;
    LanguageManager& operator=(const LanguageManager&) = delete;

    // The built-in text of id, or the value of "Log Online/<id>" (its bytes
    // taken as UTF-8), or an empty text when the key is absent.
    QString GetString(int id) const;

    static constexpr const char* kIniFileName = "OrixClientAPP.ini";

private:
    // The built-in text of id; null when id has none.
    static const char* BuiltInText(int id);

    QString m_iniPath;
    mutable std::unique_ptr<QSettings> m_settings;
};
