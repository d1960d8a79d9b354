#pragma once

// A small valid PDF for jobs printed in tests and benchmarks: pages of A4
// with one line of text each. Objects: 1 catalog, 2 page tree, 3 font, then
// each page followed by its content stream.

#include <QByteArray>
#include <QList>

inline QByteArray SamplePdf(int pages)
{
    QByteArray kids;
    for (int i = 0; i < pages; ++i)
        kids += QByteArray::number(4 + 2 * i) + " 0 R ";
    QList<QByteArray> objects{"<< /Type /Catalog /Pages 2 0 R >>",
                              "<< /Type /Pages /Kids [" + kids + "] /Count " +
                                  QByteArray::number(pages) + " >>",
                              "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"};
    for (int i = 0; i < pages; ++i) {
        const QByteArray text =
            "BT /F1 24 Tf 72 700 Td (Page " + QByteArray::number(i + 1) + ") Tj ET";
        objects << "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents " +
                       QByteArray::number(5 + 2 * i) +
                       " 0 R /Resources << /Font << /F1 3 0 R >> >> >>"
                << "<< /Length " + QByteArray::number(text.size()) + " >>\nstream\n" + text +
                       "\nendstream";
    }
    QByteArray pdf = "%PDF-1.4\n";
    QByteArray xref =
        "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (int i = 0; i < objects.size(); ++i) {
        xref += QByteArray::number(pdf.size()).rightJustified(10, '0') + " 00000 n \n";
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const QByteArray start = QByteArray::number(pdf.size());
    return pdf + xref + "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + start + "\n%%EOF\n";
}
