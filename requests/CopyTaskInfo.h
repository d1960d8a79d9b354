#pragma once

#include <cstddef>
#include <cstdint>

// The copy request record: 932 bytes that go to the server unchanged, so the
// layout is a wire format. It follows the first 930 bytes of the mobile print
// task record with two bytes of padding; integers are little-endian, texts
// are UTF-8, NUL-terminated inside their field, and the opener zero-fills it.

#pragma pack(push, 4)

struct CopyTaskInfo {
    char UserName[50];      // 0, logon name
    char UserFullName[50];  // 50
    int32_t UserID;         // 100
    int32_t AuditorCount;   // 104, approval levels 0..3
    int32_t Reserved;       // 108, 0
    int32_t AuditorIDs[10]; // 112, level order; only the first AuditorCount are set
    char SecretLevel[50];   // 152, the text of the chosen secret level
    char Purpose[512];      // 202, "purpose" or "purpose:other text"
    char DocName[50];       // 714
    char ComputerName[30];  // 764
    char MacAddress[20];    // 794
    char IPAddress[50];     // 814
    char Orientation;       // 864, 'P' portrait, 'L' landscape
    char ColorMode;         // 865, 'M' black and white, 'C' colour
    char DuplexMode;        // 866, always 'S'
    char Padding1;          // 867
    int32_t JobState;       // 868, always kCopyJobState
    int32_t PageCount;      // 872, pages of one copy
    int32_t Copies;         // 876
    char PaperSize[50];     // 880, always "A4"
    char Padding2[2];       // 930
};

#pragma pack(pop)

// The state in which the server files a new copy request.
constexpr int32_t kCopyJobState = 640;

static_assert(sizeof(CopyTaskInfo) == 932, "CopyTaskInfo is 932 bytes");
static_assert(offsetof(CopyTaskInfo, UserName) == 0, "layout");
static_assert(offsetof(CopyTaskInfo, UserFullName) == 50, "layout");
static_assert(offsetof(CopyTaskInfo, UserID) == 100, "layout");
static_assert(offsetof(CopyTaskInfo, AuditorCount) == 104, "layout");
static_assert(offsetof(CopyTaskInfo, Reserved) == 108, "layout");
static_assert(offsetof(CopyTaskInfo, AuditorIDs) == 112, "layout");
static_assert(offsetof(CopyTaskInfo, SecretLevel) == 152, "layout");
static_assert(offsetof(CopyTaskInfo, Purpose) == 202, "layout");
static_assert(offsetof(CopyTaskInfo, DocName) == 714, "layout");
static_assert(offsetof(CopyTaskInfo, ComputerName) == 764, "layout");
static_assert(offsetof(CopyTaskInfo, MacAddress) == 794, "layout");
static_assert(offsetof(CopyTaskInfo, IPAddress) == 814, "layout");
static_assert(offsetof(CopyTaskInfo, Orientation) == 864, "layout");
static_assert(offsetof(CopyTaskInfo, ColorMode) == 865, "layout");
static_assert(offsetof(CopyTaskInfo, DuplexMode) == 866, "layout");
static_assert(offsetof(CopyTaskInfo, Padding1) == 867, "layout");
static_assert(offsetof(CopyTaskInfo, JobState) == 868, "layout");
static_assert(offsetof(CopyTaskInfo, PageCount) == 872, "layout");
static_assert(offsetof(CopyTaskInfo, Copies) == 876, "layout");
static_assert(offsetof(CopyTaskInfo, PaperSize) == 880, "layout");
static_assert(offsetof(CopyTaskInfo, Padding2) == 930, "layout");
