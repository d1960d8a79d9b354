#!/usr/bin/env bash
# Writes a one-page PDF (A4, one line of Helvetica) to standard output:
#
#   bash scripts/one-page-pdf.sh TEXT > file.pdf
#
# TEXT is ASCII without parentheses or backslashes (the offsets count
# characters). Used where a real PDF is printed: scripts/bench/pdf-printer.sh
# and tests/package/test-package.sh.
set -euo pipefail

text="BT /F1 24 Tf 72 700 Td (${1:?one-page-pdf.sh takes the text of the page}) Tj ET"
objs=("<< /Type /Catalog /Pages 2 0 R >>"
  "<< /Type /Pages /Kids [3 0 R] /Count 1 >>"
  "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >> >>"
  "<< /Length ${#text} >>
stream
$text
endstream"
  "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>")
out="%PDF-1.4"$'\n'
xref=()
for i in "${!objs[@]}"; do
  xref+=("${#out}")
  out+="$((i + 1)) 0 obj"$'\n'"${objs[i]}"$'\n'"endobj"$'\n'
done
start="${#out}"
out+="xref"$'\n'"0 6"$'\n'"0000000000 65535 f "$'\n'
for o in "${xref[@]}"; do out+="$(printf '%010d' "$o") 00000 n "$'\n'; done
out+="trailer"$'\n'"<< /Size 6 /Root 1 0 R >>"$'\n'"startxref"$'\n'"$start"$'\n'"%%EOF"$'\n'
printf '%s' "$out"
