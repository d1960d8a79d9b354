#include "PdfPages.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <climits>
#include <cstdio>
#include <cstring>

namespace
{

// A PDF starts with "%PDF-" within its first 1024 bytes. Checking that first
// keeps the parser from trying to rebuild a cross-reference table out of a
// large text or PostScript file.
bool LooksLikePdf(const char* path)
{
    FILE* f = std::fopen(path, "rb");
    if (!f)
        return false;
    char head[1024];
    const size_t n = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    static const char kMagic[] = "%PDF-";
    const size_t m = sizeof kMagic - 1;
    for (size_t i = 0; i + m <= n; ++i) {
        if (std::memcmp(head + i, kMagic, m) == 0)
            return true;
    }
    return false;
}

} // namespace

int GetPdfPageCount(const char* path)
{
    if (!path || !LooksLikePdf(path))
        return 1;
    try {
        QPDF pdf;
        pdf.setSuppressWarnings(true);
        pdf.processFile(path);
        const size_t pages = QPDFPageDocumentHelper(pdf).getAllPages().size();
        if (pages == 0)
            return 1;
        return pages > size_t(INT_MAX) ? INT_MAX : int(pages);
    } catch (...) {
        return 1;
    }
}
