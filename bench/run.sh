#!/bin/sh
# Measures `halvic convert` against `wc -l` and `cp` on a realistic generated input: best of N runs
# each, taken alternately on a warm cache; standard input from a pipe against the same file by
# path; then the peak memory and the start-up cost on a small file. Against `cp`, each run comes
# after a `sync`, so that neither pays for the other's writing back, and both replace the files of
# the run before: `cp` an old copy of the input, halvic its seven files. The same pair into new
# files shows how much of that is replacing: freeing the old blocks and writing the new file out.
#
# usage: bench/run.sh [--size SIZE] [--seed N] [--runs N] [--build-dir DIR] [--data-dir DIR]
#                     [--no-build]
#   --size      input size in bytes, or with a K or M suffix (default 200M)
#   --build-dir Release build to use (default build-bench in the source tree); built unless
#               --no-build is given
#   --data-dir  where the input is generated once and the outputs go (default /tmp/halvic-bench)
set -eu

repo=$(cd "$(dirname "$0")/.." && pwd)
size=200M
seed=1
runs=5
build_dir="$repo/build-bench"
data_dir=/tmp/halvic-bench
build=1
while [ $# -gt 0 ]; do
    case "$1" in
        --size) size=$2; shift 2 ;;
        --seed) seed=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --build-dir) build_dir=$2; shift 2 ;;
        --data-dir) data_dir=$2; shift 2 ;;
        --no-build) build=0; shift ;;
        *) echo "usage: $0 [--size SIZE] [--seed N] [--runs N] [--build-dir DIR]" \
                "[--data-dir DIR] [--no-build]" >&2
           exit 2 ;;
    esac
done

if [ "$build" = 1 ]; then
    if [ -f "$build_dir/CMakeCache.txt" ]; then
        cmake -S "$repo" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DHALVIC_BUILD_GUI=OFF \
            -DHALVIC_BUILD_BENCHMARKS=ON >/dev/null
    else
        cmake -S "$repo" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DHALVIC_BUILD_GUI=OFF -DHALVIC_BUILD_BENCHMARKS=ON >/dev/null
    fi
    cmake --build "$build_dir" -j2 --target halvic halvic_make_input halvic_measure >/dev/null
fi
halvic="$build_dir/cli/halvic"
measure="$build_dir/bench/halvic_measure"

mkdir -p "$data_dir/out" "$data_dir/out-empty" "$data_dir/out-small"
input="$data_dir/input-$size-seed$seed.txt"
small="$data_dir/small-seed$seed.txt"
if [ ! -f "$input" ] || [ ! -f "$input.largest" ]; then
    echo "generating $input ..."
    "$build_dir/bench/halvic_make_input" "$input" "$size" "$seed" >"$input.largest"
fi
[ -f "$small" ] || "$build_dir/bench/halvic_make_input" "$small" 4K "$seed" >/dev/null
# The same text in UTF-16 with a byte-order mark, as Notepad's "Unicode" and PowerShell write it:
# decoded as it is read.
utf16="$input.utf16"
[ -f "$utf16" ] || iconv -f CP1252 -t UTF-16LE "$input" | { printf '\377\376'; cat; } >"$utf16"

# min A B: the smaller of two times; B empty means none yet.
min() { awk -v a="$1" -v b="${2:-$1}" 'BEGIN { print (a < b ? a : b) }'; }

# Warm the cache, then alternate, so that both commands see the same machine at the same time.
cat "$input" >/dev/null
wc_best=
fresh_best=
replace_best=
stdin_best=
utf16_best=
cp_big_best=
synced_best=
cp_new_best=
empty_best=
halvic_rss=0
cat_best=
dd_best=
empty_cpu_best=
cp "$input" "$data_dir/copy.txt"
# The outputs' size in MB (rounded up), from a conversion before the measured ones.
"$halvic" convert -q -o "$data_dir/out-empty" "$input"
output_mb=$(cat "$data_dir"/out-empty/*.qxd | wc -c | awk '{ print int(($1 + 1048575) / 1048576) }')
i=0
while [ "$i" -lt "$runs" ]; do
    set -- $("$measure" wc -l "$input")
    wc_best=$(min "$1" "$wc_best")
    # A first conversion, into an empty directory.
    rm -f "$data_dir"/out/*.qxd
    set -- $("$measure" "$halvic" convert -q -o "$data_dir/out" "$input")
    fresh_best=$(min "$1" "$fresh_best")
    [ "$2" -gt "$halvic_rss" ] && halvic_rss=$2
    # The same again, replacing those outputs: the file system then also deletes the old files
    # and (ext4) starts writing the new ones out at the renames.
    set -- $("$measure" "$halvic" convert -q -o "$data_dir/out" "$input")
    replace_best=$(min "$1" "$replace_best")
    [ "$2" -gt "$halvic_rss" ] && halvic_rss=$2
    # The UTF-16 form, into the same outputs.
    set -- $("$measure" "$halvic" convert -q -o "$data_dir/out" "$utf16")
    utf16_best=$(min "$1" "$utf16_best")
    [ "$2" -gt "$halvic_rss" ] && halvic_rss=$2
    # Standard input from a pipe: read as a stream, in parts all the same.
    set -- $(cat "$input" | "$measure" "$halvic" convert -q -o "$data_dir/out" -)
    stdin_best=$(min "$1" "$stdin_best")
    [ "$2" -gt "$halvic_rss" ] && halvic_rss=$2
    sync
    set -- $("$measure" cp "$input" "$data_dir/copy.txt")
    cp_big_best=$(min "$1" "$cp_big_best")
    sync
    set -- $("$measure" "$halvic" convert -q -o "$data_dir/out" "$input")
    synced_best=$(min "$1" "$synced_best")
    # Into new files: nothing old to free.
    rm -f "$data_dir/new.txt" "$data_dir"/out-empty/*.qxd
    sync
    set -- $("$measure" cp "$input" "$data_dir/new.txt")
    cp_new_best=$(min "$1" "$cp_new_best")
    sync
    set -- $("$measure" "$halvic" convert -q -o "$data_dir/out-empty" "$input")
    empty_best=$(min "$1" "$empty_best")
    empty_cpu_best=$(min "$3" "$empty_cpu_best")
    # The floor of that job: reading the input, and writing as many bytes as the outputs hold
    # into a new file.
    sync
    set -- $("$measure" cat "$input")
    cat_best=$(min "$1" "$cat_best")
    rm -f "$data_dir/zeros"
    sync
    set -- $("$measure" dd if=/dev/zero of="$data_dir/zeros" bs=1M count="$output_mb" status=none)
    dd_best=$(min "$1" "$dd_best")
    i=$((i + 1))
done

# Reading sets back: dump of one set to /dev/null against diff of two (the outputs of the same
# input, written twice: every record is matched and compared field by field).
dump_best=
diff_best=
diff_rss=0
i=0
while [ "$i" -lt "$runs" ]; do
    set -- $("$measure" sh -c 'exec "$0" dump "$1" >/dev/null' "$halvic" "$data_dir/out")
    dump_best=$(min "$1" "$dump_best")
    set -- $("$measure" sh -c 'exec "$0" diff "$1" "$2" >/dev/null' "$halvic" "$data_dir/out" \
        "$data_dir/out-empty")
    diff_best=$(min "$1" "$diff_best")
    [ "$2" -gt "$diff_rss" ] && diff_rss=$2
    i=$((i + 1))
done
set -- $("$halvic" diff "$data_dir/out" "$data_dir/out-empty" | tr -d ,)
set_records=$7

# The start-up cost: a few KB, best of 20.
cp_best=
small_best=
i=0
while [ "$i" -lt 20 ]; do
    set -- $("$measure" cp "$small" "$data_dir/out-small/copy.txt")
    cp_best=$(min "$1" "$cp_best")
    set -- $("$measure" "$halvic" convert -q -o "$data_dir/out-small" "$small")
    small_best=$(min "$1" "$small_best")
    i=$((i + 1))
done

bytes=$(wc -c <"$input")
small_bytes=$(wc -c <"$small")
tables=$(cat "$data_dir"/out/qx[manics].qxd | wc -c)
largest=$(cat "$input.largest")
awk -v bytes="$bytes" -v wc="$wc_best" -v hv="$fresh_best" -v hr="$replace_best" \
    -v rss="$halvic_rss" -v hs="$stdin_best" -v hu="$utf16_best" -v cpb="$cp_big_best" -v hy="$synced_best" \
    -v cpn="$cp_new_best" -v he="$empty_best" -v hec="$empty_cpu_best" -v cat="$cat_best" \
    -v dd="$dd_best" -v output_mb="$output_mb" \
    -v tables="$tables" -v largest="$largest" -v runs="$runs" -v cp="$cp_best" \
    -v small="$small_best" -v small_bytes="$small_bytes" -v input="$input" \
    -v dump="$dump_best" -v diff="$diff_best" -v diff_rss="$diff_rss" -v records="$set_records" 'BEGIN {
    mb = bytes / 1e6
    printf "input: %s (%.1f MB), best of %d, warm cache\n", input, mb, runs
    printf "  wc -l            %8.4f s  %7.0f MB/s\n", wc, mb / wc
    printf "  halvic convert   %8.4f s  %7.0f MB/s  %5.2f x wc -l  (target <= 8, aim 6)\n",
           hv, mb / hv, hv / wc
    printf "    replacing      %8.4f s  %7.0f MB/s  %5.2f x wc -l  (the outputs of the run before)\n",
           hr, mb / hr, hr / wc
    printf "    from a pipe    %8.4f s  %7.0f MB/s  %5.2f x by path  (target <= 1.25)\n",
           hs, mb / hs, hs / hr
    printf "    from UTF-16    %8.4f s  %7.0f MB/s  %5.2f x Windows-1252  (target <= 1.5; the" \
           " same text, twice the bytes)\n", hu, mb / hu, hu / hr
    printf "  after sync:\n"
    printf "    cp             %8.4f s  %7.0f MB/s  (over an old copy)\n", cpb, mb / cpb
    printf "    halvic convert %8.4f s  %7.0f MB/s  %5.2f x cp  (target <= 1.0)\n",
           hy, mb / hy, hy / cpb
    printf "    cp             %8.4f s  %7.0f MB/s  (into a new file)\n", cpn, mb / cpn
    printf "    halvic convert %8.4f s  %7.0f MB/s  %5.2f x cp  (into an empty directory)\n",
           he, mb / he, he / cpn
    printf "    replacing costs: cp %.4f s, halvic %.4f s\n", cpb - cpn, hy - he
    printf "  the floor, after sync:\n"
    printf "    cat INPUT      %8.4f s  (reading the input)\n", cat
    printf "    dd             %8.4f s  (writing %d MB, the outputs\047 size, into a new file)\n",
           dd, output_mb
    printf "    halvic convert %8.4f s  %5.2f x (cat + dd)  (target <= 2.5, aim 2; into an empty" \
           " directory)\n", he, he / (cat + dd)
    printf "      processor    %8.4f s  (user and system; target <= 0.30 s for 200 MB)\n", hec
    limit = 32 * 1048576 + tables + largest
    printf "  peak RSS         %8.1f MB  (limit 32 MB + %.1f MB distinct texts + %.3f MB" \
           " largest content = %.1f MB)\n", rss / 1024, tables / 1048576, largest / 1048576,
           limit / 1048576
    printf "  halvic dump      %8.4f s  (to /dev/null, %d records)\n", dump, records
    printf "  halvic diff      %8.4f s  %5.2f x dump  (target <= 3; two sets, all compared)\n",
           diff, diff / dump
    printf "    peak RSS       %8.1f MB  (%.1f bytes per record, tables and buffers included)\n",
           diff_rss / 1024, diff_rss * 1024 / records
    printf "small file: %d bytes, best of 20\n", small_bytes
    printf "  cp               %8.4f s\n", cp
    printf "  halvic convert   %8.4f s  %5.2f x cp  (target <= 3)\n", small, small / cp
}'
