#!/bin/sh
# Builds the data packet fuzzer straight from its sources with clang and libFuzzer, then runs
# it for a bounded time over the seed corpus.
#   run_fuzz.sh [work folder]        FUZZ_SECONDS (default 30) sets the running time.
# Exits 77 (skipped) when clang++ or its fuzzer runtime is not installed.
set -u

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
seconds=${FUZZ_SECONDS:-30}
cxx=${FUZZ_CXX:-clang++}

if [ $# -ge 1 ]; then
    work=$1
    mkdir -p "$work" || exit 1
else
    work=$(mktemp -d) || exit 1
    trap 'rm -rf "$work"' EXIT
fi

command -v "$cxx" >/dev/null 2>&1 || { echo "no $cxx: fuzzing skipped"; exit 77; }

# A compiler without the fuzzer runtime fails on the smallest fuzz target.
printf '%s\n' \
    'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' \
    >"$work/probe.cpp"
if ! "$cxx" -fsanitize=fuzzer,address,undefined "$work/probe.cpp" -o "$work/probe" \
        >/dev/null 2>&1; then
    echo "$cxx cannot build fuzz targets: fuzzing skipped"
    exit 77
fi

"$cxx" -std=c++20 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -O1 -g \
    -I"$root" \
    "$here/datapacket_fuzz.cpp" \
    "$root/receiver/control/DataPacket.cpp" \
    "$root/common/Convert.cpp" \
    "$root/common/DateTime.cpp" \
    "$root/common/Text1252.cpp" \
    -o "$work/datapacket_fuzz" || exit 1

# New inputs go to the first folder, so the seeds in the source tree stay as they are.
mkdir -p "$work/corpus" "$work/artifacts"
"$work/datapacket_fuzz" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
    "$work/corpus" "$here/corpus/datapacket"
