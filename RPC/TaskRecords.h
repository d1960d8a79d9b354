#pragma once

#include <cstddef>
#include <cstdint>

// The fixed binary records that describe a print job to the server. Their
// bytes are uploaded unchanged, so the layouts below are a wire format:
// little-endian, 4-byte aligned, text NUL-terminated inside its field and
// zero-padded. Every writer clears a record to zero before filling it.

#pragma pack(push, 4)

// 1112 bytes. Text marked GBK is converted from UTF-8 by the writer of a
// captured job (DocType "pdf"); the mobile print job dialog (DocType "doc")
// writes every text in UTF-8.
struct MobilePrintTaskInfo {
    char UserName[50];      // 0
    char UserFullName[50];  // 50, GBK
    int32_t UserID;         // 100
    int32_t AuditorCount;   // 104
    int32_t Reserved;       // 108, always 0
    int32_t AuditorIDs[10]; // 112, level order; slots from AuditorCount on are 0
    char SecretLevel[50];   // 152, GBK
    char Purpose[512];      // 202, GBK
    char DocName[50];       // 714, GBK
    char JobFileName[30];   // 764, "<first 20 bytes of the host name>.tavprint"
    char MacAddress[20];    // 794
    char IPAddress[50];     // 814
    char Orientation;       // 864, 'P' or 'L'
    char ColorMode;         // 865, 'M' or 'C'
    char DuplexMode;        // 866, 'S', 'V', 'H' or 'D'
    char Padding1;          // 867
    int32_t JobState;       // 868
    int32_t PageCount;      // 872, pages of one copy
    int32_t Copies;         // 876
    char PaperSize[50];     // 880
    char DocType[30];       // 930, "pdf" or "doc"
    char PrinterName[50];   // 960, GBK
    char PageRange[100];    // 1010, "-1" = all pages
    char Padding2[2];       // 1110
};

// 664 bytes, text in UTF-8: what the print settings dialog collected.
struct _TAV_PRINT_TASK_INFO_ {
    char UserName[50];      // 0
    char Padding1[2];       // 50
    int32_t AuditorCount;   // 52
    int32_t Reserved;       // 56
    int32_t AuditorIDs[10]; // 60
    char SecretLevel[50];   // 100
    char Purpose[512];      // 150
    char Padding2[2];       // 662
};

#pragma pack(pop)

static_assert(sizeof(MobilePrintTaskInfo) == 1112, "MobilePrintTaskInfo is 1112 bytes");
static_assert(offsetof(MobilePrintTaskInfo, UserName) == 0, "layout");
static_assert(offsetof(MobilePrintTaskInfo, UserFullName) == 50, "layout");
static_assert(offsetof(MobilePrintTaskInfo, UserID) == 100, "layout");
static_assert(offsetof(MobilePrintTaskInfo, AuditorCount) == 104, "layout");
static_assert(offsetof(MobilePrintTaskInfo, Reserved) == 108, "layout");
static_assert(offsetof(MobilePrintTaskInfo, AuditorIDs) == 112, "layout");
static_assert(offsetof(MobilePrintTaskInfo, SecretLevel) == 152, "layout");
static_assert(offsetof(MobilePrintTaskInfo, Purpose) == 202, "layout");
static_assert(offsetof(MobilePrintTaskInfo, DocName) == 714, "layout");
static_assert(offsetof(MobilePrintTaskInfo, JobFileName) == 764, "layout");
static_assert(offsetof(MobilePrintTaskInfo, MacAddress) == 794, "layout");
static_assert(offsetof(MobilePrintTaskInfo, IPAddress) == 814, "layout");
static_assert(offsetof(MobilePrintTaskInfo, Orientation) == 864, "layout");
static_assert(offsetof(MobilePrintTaskInfo, ColorMode) == 865, "layout");
static_assert(offsetof(MobilePrintTaskInfo, DuplexMode) == 866, "layout");
static_assert(offsetof(MobilePrintTaskInfo, Padding1) == 867, "layout");
static_assert(offsetof(MobilePrintTaskInfo, JobState) == 868, "layout");
static_assert(offsetof(MobilePrintTaskInfo, PageCount) == 872, "layout");
static_assert(offsetof(MobilePrintTaskInfo, Copies) == 876, "layout");
static_assert(offsetof(MobilePrintTaskInfo, PaperSize) == 880, "layout");
static_assert(offsetof(MobilePrintTaskInfo, DocType) == 930, "layout");
static_assert(offsetof(MobilePrintTaskInfo, PrinterName) == 960, "layout");
static_assert(offsetof(MobilePrintTaskInfo, PageRange) == 1010, "layout");
static_assert(offsetof(MobilePrintTaskInfo, Padding2) == 1110, "layout");
static_assert(sizeof(_TAV_PRINT_TASK_INFO_) == 664, "_TAV_PRINT_TASK_INFO_ is 664 bytes");
static_assert(offsetof(_TAV_PRINT_TASK_INFO_, UserName) == 0, "layout");
static_assert(offsetof(_TAV_PRINT_TASK_INFO_, Padding1) == 50, "layout");
static_assert(offsetof(_TAV_PRINT_TASK_INFO_, AuditorCount) == 52, "layout");
static_assert(offsetof(_TAV_PRINT_TASK_INFO_, Reserved) == 56, "layout");
static_assert(offsetof(_TAV_PRINT_TASK_INFO_, AuditorIDs) == 60, "layout");
static_assert(offsetof(_TAV_PRINT_TASK_INFO_, SecretLevel) == 100, "layout");
static_assert(offsetof(_TAV_PRINT_TASK_INFO_, Purpose) == 150, "layout");
static_assert(offsetof(_TAV_PRINT_TASK_INFO_, Padding2) == 662, "layout");
