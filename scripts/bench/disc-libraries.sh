#!/usr/bin/env bash
# Speed and memory of the disc-burning libraries (build/plugins/libminizip.so and
# revududir.so), called through dlopen as the client calls them, on 64 MiB and 512 MiB of
# incompressible data. References from the same run: gzip -6 for compression, openssl's
# AES-256-CTR for encryption. The peak resident size should not grow with the input
# (streaming, constant memory). Exits non-zero only when it could not measure.
set -euo pipefail
cd "$(dirname "$0")/../.."

if [ ! -f build/CMakeCache.txt ]; then
    cmake -S . -B build >/dev/null
fi
cmake --build build -j2 --target disc_minizip disc_codec >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/program"
cp build/plugins/libminizip.so build/plugins/revududir.so "$work/program/"
g++ -std=c++17 -O2 -Iplugins scripts/bench/disc_bench.cpp -o "$work/disc_bench" -ldl

seconds() { # runs "$@", prints the wall time in seconds
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}

printf '%-28s %10s %10s %12s\n' "what" "MiB" "seconds" "MiB/s"
for mib in 64 512; do
    input="$work/input-$mib"
    head -c $((mib * 1048576)) /dev/urandom >"$input"
    for step in "zip" "zip password" "encrypt"; do
        rm -f "$work/out"
        source="$input"
        [ "$step" = "encrypt" ] && source="$work/zipped-$mib"
        case "$step" in
        "zip") line=$("$work/disc_bench" "$work/program" zip "$input" "$work/zipped-$mib") ;;
        "zip password") line=$("$work/disc_bench" "$work/program" zip "$input" "$work/out" secret) ;;
        "encrypt") line=$("$work/disc_bench" "$work/program" encrypt "$source" "$work/out") ;;
        esac
        read -r secs bytes rss <<<"$line"
        [ "$bytes" -eq "$(stat -c %s "$source")" ] || { echo "progress does not add up" >&2; exit 1; }
        printf '%-28s %10d %10.2f %12.1f   peak %d KiB\n' "$step" "$mib" "$secs" \
            "$(awk -v b="$bytes" -v s="$secs" 'BEGIN { print b / 1048576 / s }')" "$rss"
    done
    ref=$(seconds gzip -6 -c "$input")
    printf '%-28s %10d %10.2f %12.1f\n' "reference: gzip -6" "$mib" "$ref" "$(awk -v m="$mib" -v s="$ref" 'BEGIN { print m / s }')"
    ref=$(seconds openssl enc -aes-256-ctr -pbkdf2 -pass pass:x -in "$input" -out /dev/null)
    printf '%-28s %10d %10.2f %12.1f\n' "reference: openssl aes-ctr" "$mib" "$ref" "$(awk -v m="$mib" -v s="$ref" 'BEGIN { print m / s }')"
    rm -f "$input" "$work/zipped-$mib" "$work/out"
done
