#pragma once

#include <cstddef>
#include <cstdint>

// Payer types of the payer settings (GetPayerInfo), the quota request and
// the payer of a stored job. What they stand for on the server is the
// server's; the client reads them thus.
enum TavPayerType : int32_t {
    kPayerOwnAccount = 1, // the first payer of the user's list pays
    kPayerGroup = 2,      // the same, a group's account
    kPayerProject = 4,    // the payer the user chose pays; its identifier is
                          // the job's project number
    kPayerChosen = 6,     // the payer the user chose pays: sent as
                          // kPayerGroup for a group, else as kPayerProject
};

// Quota request record (352 bytes), built for one job by the submission and
// read by the quota check and by the project update of a stored job.
struct TavQuotaRequest {
    char Kind;             // 0: 'P' for a print job
    char Padding1[3];      // 1
    int32_t PayerType;     // 4
    int32_t PayerID;       // 8
    char PrinterName[256]; // 12
    int32_t TotalPages;    // 268: pages of one copy x copies
    char Color[2];         // 272: colour code and NUL
    char Duplex[2];        // 274: duplex code and NUL
    char PaperSize[50];    // 276
    char Padding2[2];      // 326
    int32_t PaperWidth;    // 328: millimetres, always 210
    int32_t PaperHeight;   // 332: millimetres, always 297
    char Reserved1[8];     // 336
    int32_t TaskID;        // 344: 0
    char Reserved2[4];     // 348
};
static_assert(sizeof(TavQuotaRequest) == 352, "quota request is 352 bytes");
static_assert(offsetof(TavQuotaRequest, TotalPages) == 268, "layout");
static_assert(offsetof(TavQuotaRequest, PaperSize) == 276, "layout");
static_assert(offsetof(TavQuotaRequest, PaperWidth) == 328, "layout");
static_assert(offsetof(TavQuotaRequest, TaskID) == 344, "layout");
