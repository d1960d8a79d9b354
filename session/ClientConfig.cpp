#include "ClientConfig.h"
#include "OrixUser.h"

#include "EventLog.h"
#include "SystemPaths.h"
#include "TextUtil.h"

#include <QSettings>

#include <cstddef>
#include <cstdio>
#include <cstring>

const int ClientConfig::kOtherKeys[ClientConfig::kOtherKeyCount] = {
    2000, 2036, 2001, 2003, 2004, 2005, 2039, 2007, 2008, 2009, 2010, 2011, 2012, 2013, 2016, 2018,
    2019, 2020, 2021, 2025, 2026, 2027, 2028, 2029, 2030, 2031, 2032, 2035, 2040, 2041, 0};

const char* ClientConfig::other(int key) const
{
    for (int i = 0; i < kOtherKeyCount - 1; ++i)
        if (kOtherKeys[i] == key)
            return Other[i];
    return nullptr;
}

char* ClientConfig::other(int key)
{
    return const_cast<char*>(static_cast<const ClientConfig*>(this)->other(key));
}

namespace
{

enum class Kind { Utf8, Latin1, Int, Other };

struct KeySpec {
    int key;
    const char* defaultValue; // null: no default (an empty value)
    Kind kind;
    size_t offset; // of the member in ClientConfig (Int, Utf8, Latin1)
};

#define MEMBER(m) offsetof(ClientConfig, m)

// The numbered keys of Main Window in the order they are read.
const KeySpec kMainWindowKeys[] = {
    {2000, "0", Kind::Other, 0},
    {2036, nullptr, Kind::Other, 0},
    {2001, "100", Kind::Other, 0},
    {2002, "127.0.0.1", Kind::Utf8, MEMBER(ServerAddress)},
    {2006, "user1", Kind::Utf8, MEMBER(UserName)},
    {2003, nullptr, Kind::Other, 0},
    {2004, nullptr, Kind::Other, 0},
    {2005, nullptr, Kind::Other, 0},
    {2039, nullptr, Kind::Other, 0},
    {2007, nullptr, Kind::Other, 0},
    {2008, nullptr, Kind::Other, 0},
    {2009, nullptr, Kind::Other, 0},
    {2010, nullptr, Kind::Other, 0},
    {2011, nullptr, Kind::Other, 0},
    {2012, nullptr, Kind::Other, 0},
    {2013, nullptr, Kind::Other, 0},
    {2014, nullptr, Kind::Latin1, MEMBER(SecretLevelList)},
    {2015, nullptr, Kind::Latin1, MEMBER(PurposeList)},
    {2016, nullptr, Kind::Other, 0},
    {2017, "RazodAroZid/Home/Index1", Kind::Utf8, MEMBER(WebPath)},
    {2018, nullptr, Kind::Other, 0},
    {2019, nullptr, Kind::Other, 0},
    {2020, nullptr, Kind::Other, 0},
    {2021, nullptr, Kind::Other, 0},
    {2022, "80", Kind::Int, MEMBER(WebPort)},
    {2025, nullptr, Kind::Other, 0},
    {2026, nullptr, Kind::Other, 0},
    {2027, nullptr, Kind::Other, 0},
    {2028, "100", Kind::Other, 0},
    {2029, nullptr, Kind::Other, 0},
    {2030, nullptr, Kind::Other, 0},
    {2031, nullptr, Kind::Other, 0},
    {2032, nullptr, Kind::Other, 0},
    {2035, nullptr, Kind::Other, 0},
    {2040, nullptr, Kind::Other, 0},
    {2041, nullptr, Kind::Other, 0},
};

#undef MEMBER

} // namespace

// QSettings turns an unquoted value with commas into a list; such a value
// is still one text here (a purpose list may well hold commas).
static QString toText(const QVariant& value)
{
    if (value.type() == QVariant::StringList)
        return value.toStringList().join(',');
    return value.toString();
}

// The bytes of a text value as they stand in the file. Qt reads an INI file
// without a codec, one Latin-1 character per byte, so the characters of a
// value typed into the file are its bytes (UTF-8 when a person wrote it with
// a text editor). A value that Qt itself wrote with escapes (\x5f20) holds
// characters beyond Latin-1 and is taken as text. No reader of this file
// sets a codec: Qt caches one parse per file for all readers.
QByteArray SettingFileBytes(const QVariant& value)
{
    const QString text = toText(value);
    for (QChar c : text)
        if (c.unicode() > 0xFF)
            return text.toUtf8();
    return text.toLatin1();
}

int OrixUser::ReadConfigInfo(void* config, int readItem2003)
{
    ClientConfig* cfg = static_cast<ClientConfig*>(config);
    char* base = reinterpret_cast<char*>(cfg);

    QSettings settings(QString::fromUtf8(ConfigFilePath()), QSettings::IniFormat);

    for (const KeySpec& spec : kMainWindowKeys) {
        if (spec.key == 2003 && !readItem2003)
            continue;
        char keyPath[64];
        snprintf(keyPath, sizeof keyPath, "/%s/%d", "Main Window", spec.key);
        const QVariant value =
            settings.value(QString::fromLatin1(keyPath),
                           spec.defaultValue ? QString::fromUtf8(spec.defaultValue) : QString());
        switch (spec.kind) {
        case Kind::Int:
            *reinterpret_cast<int32_t*>(base + spec.offset) = SettingInt(value);
            break;
        case Kind::Utf8:
        case Kind::Latin1:
            // The lists (Latin1) keep the bytes of the file's text (Latin-1
            // characters to bytes) as well, which the job settings split and
            // use as UTF-8.
            CopyUtf8Text(base + spec.offset, 256, SettingFileBytes(value).constData());
            break;
        case Kind::Other:
            if (char* field = cfg->other(spec.key))
                CopyUtf8Text(field, sizeof cfg->Other[0], SettingFileBytes(value).constData());
            break;
        }
    }

    cfg->UseSsl = SettingInt(settings.value("OPTION/SSL", 0));
    cfg->UiHide = SettingInt(settings.value("OPTION/UIHide", 0));
    cfg->CdPassword = SettingInt(settings.value("OPTION/CDPassword", 0));
    CopyUtf8Text(cfg->AuthServer, sizeof cfg->AuthServer,
                 SettingFileBytes(settings.value("OPTION/AuthServer", QString())).constData());
    CopyUtf8Text(cfg->Proxy, sizeof cfg->Proxy,
                 SettingFileBytes(settings.value("OPTION/Proxy", QString())).constData());

    const QByteArray iniPath = SettingFileBytes(
        settings.value("/UserInfo/Path", QString::fromUtf8(SystemPaths::varTmp())));
    CopyUtf8Text(INIPATH, sizeof INIPATH, iniPath.constData());
    return 0;
}
