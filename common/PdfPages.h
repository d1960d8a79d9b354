#pragma once

// Page count of a document, for the page figures of a print job. Plain C++
// without Qt: the PDF printer's backend uses it as well as the client.

// Number of pages of the PDF file at path. A file that cannot be read, is
// not a PDF, is damaged beyond repair, needs a password or has no pages
// counts as 1, so that a job is never announced with zero pages.
int GetPdfPageCount(const char* path);
