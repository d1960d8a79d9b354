#pragma once

#include <QString>

// Reads the options file that the PDF printer leaves beside a job's PDF (the
// job's CUPS options as name=value pairs, values with blanks quoted) into
// the fields of a MobilePrintTaskInfo:
//
//   Duplex                  DuplexMode: 'V' (..DuplexNoTumble..), 'H'
//                           (..DuplexTumble..), else 'S'
//   PageSize                PaperSize (at most 49 bytes), "A4" when absent
//   copies                  Copies, 1 when absent
//   title                   DocName in GBK: the Office prefixes removed, the
//                           last "/"-separated part kept; when that comes out
//                           empty, document-name-supplied (prefixes removed)
//   ColorModel              ColorMode: 'C' for exactly RGB or CMYK, else 'M'
//   job-impressions         PageCount = impressions / Copies, 1 when absent
//
// Every other field keeps what the caller put there; the caller sets
// DocName to "TEST.pdf" first, which stays when the options carry no title.
// A missing or unreadable file gives the defaults. DocName is cut at a whole
// GBK character and always ends with a NUL inside its 50 bytes. A Copies
// value that is not a positive number is stored as read (0 for text) but
// never divides: PageCount is then the impressions themselves.
void GetJobInfo(void* mobileTaskInfo, const QString& optionsPath);
