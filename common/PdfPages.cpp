#include "PdfPages.h"

#include <qpdf/qpdf-c.h>

#include <cstdio>
#include <cstring>
#include <dlfcn.h>

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

// The PDF library is loaded when the first document is counted, not at
// program start: with the libraries it pulls in it would cost every start
// of the client far more than the occasional page count.
struct QpdfFunctions {
    decltype(&qpdf_init) init = nullptr;
    decltype(&qpdf_cleanup) cleanup = nullptr;
    decltype(&qpdf_silence_errors) silenceErrors = nullptr;
    decltype(&qpdf_set_suppress_warnings) suppressWarnings = nullptr;
    decltype(&qpdf_read) read = nullptr;
    decltype(&qpdf_get_num_pages) numPages = nullptr;
    decltype(&qpdf_has_error) hasError = nullptr;
    decltype(&qpdf_get_error) getError = nullptr;
    bool complete = false;
};

template <typename Function> bool LookUp(void* library, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

const QpdfFunctions& Qpdf()
{
    static const QpdfFunctions functions = [] {
        QpdfFunctions f;
        void* library = dlopen(ORIX_QPDF_SONAME, RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return f;
        f.complete = LookUp(library, "qpdf_init", f.init) &&
                     LookUp(library, "qpdf_cleanup", f.cleanup) &&
                     LookUp(library, "qpdf_silence_errors", f.silenceErrors) &&
                     LookUp(library, "qpdf_set_suppress_warnings", f.suppressWarnings) &&
                     LookUp(library, "qpdf_read", f.read) &&
                     LookUp(library, "qpdf_get_num_pages", f.numPages) &&
                     LookUp(library, "qpdf_has_error", f.hasError) &&
                     LookUp(library, "qpdf_get_error", f.getError);
        return f;
    }();
    return functions;
}

} // namespace

int GetPdfPageCount(const char* path)
{
    if (!path || !LooksLikePdf(path))
        return 1;
    const QpdfFunctions& qpdf = Qpdf();
    if (!qpdf.complete)
        return 1;
    qpdf_data pdf = qpdf.init();
    if (!pdf)
        return 1;
    // Errors and warnings stay with the handle; nothing goes to stderr.
    qpdf.silenceErrors(pdf);
    qpdf.suppressWarnings(pdf, QPDF_TRUE);
    int pages = 0;
    if (!(qpdf.read(pdf, path, nullptr) & QPDF_ERRORS))
        pages = qpdf.numPages(pdf); // -1 when the page tree cannot be read
    // An error left with the handle would be reported on stderr when it goes.
    if (qpdf.hasError(pdf))
        qpdf.getError(pdf);
    qpdf.cleanup(&pdf);
    return pages > 0 ? pages : 1;
}
