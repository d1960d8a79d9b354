#pragma once

#include <cstddef>
#include <cstdint>

// The disc-burning request record: 1024 bytes that go to the server
// unchanged as the last block of the upload, so the layout is a wire format.
// Integers are little-endian, texts are UTF-8, NUL-terminated inside their
// field, and every byte not named here stays zero. From UserName to
// IPAddress, and Copies, it carries the fields of the copy request record
// under the same names and widths, moved by 34 bytes (the texts before
// UserID) or 36 bytes (UserID on, so that the integers stay aligned).

#pragma pack(push, 4)

struct CDTaskInfo {
    uint32_t TotalSize;     // 0, bytes of the chosen files: the low 32 bits of the total
    char Reserved1[30];     // 4
    char UserName[50];      // 34, logon name
    char UserFullName[50];  // 84
    char Reserved2[2];      // 134
    int32_t UserID;         // 136
    int32_t AuditorCount;   // 140, approval levels 0..3
    int32_t Reserved3;      // 144
    int32_t AuditorIDs[10]; // 148, level order; only the first AuditorCount are set
    char SecretLevel[50];   // 188, the text of the chosen secret level
    char Purpose[512];      // 238, "purpose" or "purpose:other text"
    char DocName[50];       // 750
    char ComputerName[30];  // 800
    char MacAddress[20];    // 830
    char IPAddress[50];     // 850
    char Reserved4[12];     // 900
    int32_t Copies;         // 912
    char Reserved5[52];     // 916
    int32_t DiscType;       // 968, 1 CD, 2 DVD, 3 BDVD
    char Reserved6[52];     // 972
};

#pragma pack(pop)

static_assert(sizeof(CDTaskInfo) == 1024, "CDTaskInfo is 1024 bytes");
static_assert(offsetof(CDTaskInfo, TotalSize) == 0, "layout");
static_assert(offsetof(CDTaskInfo, UserName) == 34, "layout");
static_assert(offsetof(CDTaskInfo, UserFullName) == 84, "layout");
static_assert(offsetof(CDTaskInfo, UserID) == 136, "layout");
static_assert(offsetof(CDTaskInfo, AuditorCount) == 140, "layout");
static_assert(offsetof(CDTaskInfo, AuditorIDs) == 148, "layout");
static_assert(offsetof(CDTaskInfo, SecretLevel) == 188, "layout");
static_assert(offsetof(CDTaskInfo, Purpose) == 238, "layout");
static_assert(offsetof(CDTaskInfo, DocName) == 750, "layout");
static_assert(offsetof(CDTaskInfo, ComputerName) == 800, "layout");
static_assert(offsetof(CDTaskInfo, MacAddress) == 830, "layout");
static_assert(offsetof(CDTaskInfo, IPAddress) == 850, "layout");
static_assert(offsetof(CDTaskInfo, Copies) == 912, "layout");
static_assert(offsetof(CDTaskInfo, DiscType) == 968, "layout");

// The disc types of the record and the capacity of each, in whole
// megabytes (2^20 bytes).
enum CDDiscType : int32_t {
    kDiscCD = 1,
    kDiscDVD = 2,
    kDiscBDVD = 3,
};
