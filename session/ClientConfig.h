#pragma once

#include <cstdint>

class QByteArray;
class QVariant;

// Installation-wide settings from "OrixClientAPP.ini" in the program folder.
// The client only reads that file; OrixUser::ReadConfigInfo fills this
// record (and INIPATH) from it.
struct ClientConfig {
    char ServerAddress[256];   // Main Window/2002, UTF-8, "127.0.0.1"
    char UserName[256];        // Main Window/2006, UTF-8, "user1"
    char PurposeList[256];     // Main Window/2015, bytes of the file's text, ";"-separated
    char WebPath[256];         // Main Window/2017, UTF-8, "RazodAroZid/Home/Index1"
    int32_t WebPort;           // Main Window/2022, 80
    char SecretLevelList[256]; // Main Window/2014, bytes of the file's text, ";"-separated
    char AuthServer[256];      // OPTION/AuthServer, UTF-8
    int32_t UseSsl;            // OPTION/SSL
    int32_t UiHide;            // OPTION/UIHide, bit mask applied by the main window
    int32_t CdPassword;        // OPTION/CDPassword
    char Proxy[256];           // OPTION/Proxy, UTF-8: empty the environment's, "none", or a URL

    // Numbered keys of Main Window that the client reads but does not use.
    // Their raw texts are kept, in the order of kOtherKeys, for support tools.
    static constexpr int kOtherKeyCount = 31;
    static const int kOtherKeys[kOtherKeyCount];
    char Other[kOtherKeyCount][256];

    // Raw text of one of the unused numbered keys; null for any other number.
    const char* other(int key) const;
    char* other(int key);
};

// The bytes of a text value read from an INI file through Qt's settings
// (which read without a codec): the file's own bytes for a value typed into
// the file, UTF-8 for a value Qt wrote with escapes. Lists are joined back
// with ",".
QByteArray SettingFileBytes(const QVariant& value);
