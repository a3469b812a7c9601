#!/bin/sh
# Builds a fuzzer straight from its sources with clang and libFuzzer, then runs it for a
# bounded time over its seed corpus (corpus/<name>, where it exists).
#   run_fuzz.sh [work folder [name source...]]   FUZZ_SECONDS (default 30) sets the running time.
# Sources are paths from the repository's top folder; without a name, the data packet fuzzer.
# Exits 77 (skipped) when clang++ or its fuzzer runtime is not installed.
set -u

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
seconds=${FUZZ_SECONDS:-30}
cxx=${FUZZ_CXX:-clang++}

name=datapacket
if [ $# -ge 1 ]; then
    work=$1
    mkdir -p "$work" || exit 1
    shift
    if [ $# -ge 2 ]; then
        name=$1
        shift
    fi
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

if [ $# -eq 0 ]; then
    set -- tests/fuzz/datapacket_fuzz.cpp receiver/control/DataPacket.cpp common/Convert.cpp \
        common/DateTime.cpp common/Text1252.cpp
fi
sources=""
for source in "$@"; do sources="$sources $root/$source"; done

# shellcheck disable=SC2086
"$cxx" -std=c++20 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -O1 -g \
    -I"$root" $sources -o "$work/${name}_fuzz" || exit 1

# New inputs go to the first folder, so the seeds in the source tree stay as they are.
mkdir -p "$work/corpus" "$work/artifacts"
seeds=""
[ -d "$here/corpus/$name" ] && seeds="$here/corpus/$name"
# shellcheck disable=SC2086
"$work/${name}_fuzz" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
    "$work/corpus" $seeds
