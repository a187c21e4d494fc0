#!/usr/bin/env bash
# bench/run.sh: measures dedupe against the least work any run of it must do
# (the write floor: read the input, one write call per non-blank line), and
# beside `sort -u` and awk, on generated inputs of 200K, 1M, 2M and 10M
# lines. Prints wall, user and system time and peak RSS for each, dedupe's
# ratios to the floor and to sort, its memory budget and its time per line;
# counts its write calls; and checks its output against sort, failing loudly
# when they differ.
#
#   bench/run.sh               makes a Release build in build-bench/ first
#   bench/run.sh --built DIR   uses the binaries already built in DIR
#
# Inputs are cached in DIR/bench-corpus; every output goes to
# DIR/bench-scratch. BENCH_SIZES="200000 1000000" measures fewer sizes.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
if [[ ${1:-} == --built ]]; then
  build=$(cd "$2" && pwd)
else
  build=$repo/build-bench
  echo "== Release build in $build"
  cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$build" -j2 --target dedupe make_corpus write_floor \
    run_timed >/dev/null
fi
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
if [[ $build_type != Release ]]; then
  echo "warning: $build is a '$build_type' build, not Release:" \
    "its figures say little" >&2
fi

dedupe=$build/dedupe
make_corpus=$build/bench/make_corpus
write_floor=$build/bench/write_floor
corpus_dir=$build/bench-corpus
scratch=$build/bench-scratch
sizes=(${BENCH_SIZES:-200000 1000000 2000000 10000000})
tools=(dedupe floor sort awk)
declare -A tool_name=([dedupe]=dedupe [floor]="write floor"
  [sort]="sort -u" [awk]="awk (mawk)")

die() { echo "bench: FAILED: $*" >&2; exit 1; }

for tool in mawk strace; do
  command -v "$tool" >/dev/null ||
    die "$tool is missing (apt-get install $tool)"
done
if [[ -x /usr/bin/time ]]; then
  timer=(/usr/bin/time -f "%e %U %S %M")
else
  timer=("$build/bench/run_timed")
  [[ -x ${timer[0]} ]] || die "neither /usr/bin/time nor ${timer[0]}"
fi

# Everything runs in the C locale: sort then orders by unsigned bytes, as
# dedupe does, and no tool spends time decoding characters.
export LC_ALL=C TMPDIR=$scratch
rm -rf "$scratch"
mkdir -p "$corpus_dir" "$scratch"/{dedupe,floor,sort,awk,check,strace,results}
results=$scratch/results

# Prints the path of the cached input of $1 lines, made first if missing or
# older than the generator. The pool is a quarter of the lines, as in the
# standard input (2,000,000 lines from 500,000 candidates).
input_of() {
  local lines=$1 file=$corpus_dir/infile-$1.euc
  if [[ ! -s $file || $make_corpus -nt $file ]]; then
    echo "   generating $lines lines" >&2
    "$make_corpus" "$lines" $((lines / 4)) 1 "$file.tmp"
    mv "$file.tmp" "$file"
  fi
  echo "$file"
}

# Runs one tool once on the input linked in its scratch folder and appends
# "wall user sys peak_rss_kib" to results/SIZE.TOOL.
measure() {
  local tool=$1 lines=$2 dir=$scratch/$1
  local -a command
  case $tool in
    dedupe) command=("$dedupe") ;;
    floor) command=("$write_floor") ;;
    sort) command=(sort -u infile.euc) ;;
    awk) command=(mawk '!seen[$0]++' infile.euc) ;;
  esac
  rm -f "$dir"/{duplicates,outfile,floor}.euc "$dir/stdout.txt"
  sync  # so that writing back the last run's output does not land in this one
  (cd "$dir" && "${timer[@]}" -o "$dir/time.txt" "${command[@]}" \
    >"$dir/stdout.txt") || die "$tool failed on $lines lines"
  cat "$dir/time.txt" >>"$results/$lines.$tool"
}

# The median over the runs in file $1 of the awk expression $2, on the
# fields $1 wall, $2 user, $3 sys, $4 peak RSS.
median() {
  awk "{ print $2 }" "$1" | sort -g |
    awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

# Runs dedupe once on $1 lines and checks it against sort and awk: the same
# distinct lines in the same order, the same repeated lines in input order,
# and the exact summary. Leaves
# "nonblank distinct distinct_bytes" in results/SIZE.counts.
check_output() {
  local lines=$1 dir=$scratch/check
  ln -sf "$(input_of "$lines")" "$dir/infile.euc"
  (cd "$dir" && "$dedupe" >summary.txt) || die "dedupe failed on $lines lines"
  # Blank: only space, tab, VT, FF and the full-width space 0x81 0x40, which
  # are all the corpus uses; CRs are gone by then.
  tr -d '\r' <"$dir/infile.euc" |
    grep -av -E $'^([ \t\v\f]|\x81\x40)*$' >"$dir/nonblank.txt" || true
  sort -u "$dir/nonblank.txt" >"$dir/expected.txt"
  tr -d '\r' <"$dir/outfile.euc" >"$dir/outfile.txt"
  cmp -s "$dir/expected.txt" "$dir/outfile.txt" ||
    die "$lines lines: outfile.euc differs from sort -u (see $dir)"
  # Every occurrence after the first, in input order.
  mawk 'seen[$0]++' "$dir/nonblank.txt" >"$dir/expected.txt"
  tr -d '\r' <"$dir/duplicates.euc" >"$dir/duplicates.txt"
  cmp -s "$dir/expected.txt" "$dir/duplicates.txt" ||
    die "$lines lines: duplicates.euc differs from the repeated lines" \
      "(see $dir)"
  local nonblank distinct
  nonblank=$(wc -l <"$dir/nonblank.txt")
  distinct=$(wc -l <"$dir/outfile.txt")
  printf '\r\nLines In: %d\r\nLines Out: %d\r\n\r\n' "$nonblank" "$distinct" |
    cmp -s - "$dir/summary.txt" ||
    die "$lines lines: wrong summary: $(tr '\r\n' '  ' <"$dir/summary.txt")"
  local distinct_bytes=$(($(wc -c <"$dir/outfile.txt") - distinct))
  echo "$nonblank $distinct $distinct_bytes" >"$results/$lines.counts"
  rm -f "$dir"/*.txt "$dir"/*.euc
}

# Counts dedupe's write calls on $1 lines, per file, and the write floor's:
# each must make exactly one per line it writes.
count_writes() {
  local lines=$1 dir=$scratch/strace
  ln -sf "$(input_of "$lines")" "$dir/infile.euc"
  local traced=write,writev,pwrite64,pwritev,pwritev2
  (cd "$dir" && strace -y -e trace=$traced -o dedupe.trace "$dedupe" \
    >stdout.txt) || die "dedupe failed under strace"
  (cd "$dir" && strace -y -e trace=$traced -o floor.trace "$write_floor") ||
    die "write floor failed under strace"
  local nonblank distinct _
  read -r nonblank distinct _ <"$results/$lines.counts"
  # strace -y shows each descriptor's file: write(4</path/duplicates.euc>, ...
  count() { grep -c "^$1([0-9]*<[^>]*$2>" "$dir/$3.trace" || true; }
  local to_dup to_out to_stdout all floor_writes floor_all
  to_dup=$(count write /duplicates.euc dedupe)
  to_out=$(count write /outfile.euc dedupe)
  to_stdout=$(count write /stdout.txt dedupe)
  all=$(grep -c '^[a-z0-9]*(' "$dir/dedupe.trace" || true)
  floor_writes=$(count write /floor.euc floor)
  floor_all=$(grep -c '^[a-z0-9]*(' "$dir/floor.trace" || true)
  # A short write would hand part of a line to the system on its own.
  local short
  short=$(sed -n 's/^write(.*, \([0-9]*\)) *= \(-\{0,1\}[0-9]*\).*$/\1 \2/p' \
    "$dir"/*.trace | awk '$1 != $2' | wc -l)

  echo
  echo "== Write calls of one dedupe run on $lines lines (strace)"
  printf '  %-34s %10s %10s\n' "" counted expected
  printf '  %-34s %10d %10d\n' "duplicates.euc (non-blank - distinct)" \
    "$to_dup" $((nonblank - distinct))
  printf '  %-34s %10d %10d\n' "outfile.euc (distinct)" "$to_out" "$distinct"
  printf '  %-34s %10d %10d\n' "summary on standard output" "$to_stdout" 4
  printf '  %-34s %10d %10d\n' "all write calls (non-blank + 4)" "$all" \
    $((nonblank + 4))
  printf '  %-34s %10d %10d\n' "write floor (non-blank)" "$floor_all" \
    "$nonblank"
  ((to_dup == nonblank - distinct && to_out == distinct && to_stdout == 4 &&
    all == nonblank + 4 && floor_writes == nonblank &&
    floor_all == nonblank && short == 0)) ||
    die "write calls differ from one per line ($short short writes)"
  rm -f "$dir"/*.trace "$dir"/*.euc "$dir"/*.txt
}

# The load average tells how much other work shared the machine: it shows
# as wall time above user + system time.
echo "== $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p'), kernel" \
  "$(uname -r); load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "== Checking dedupe's output against sort -u and awk"
for lines in "${sizes[@]}"; do
  check_output "$lines"
  read -r nonblank distinct _ <"$results/$lines.counts"
  echo "   $lines lines: $nonblank non-blank, $distinct distinct:" \
    "both files and the summary as expected"
done
count_writes "${sizes[0]}"

echo
echo "== Timing (runs interleaved; the order rotates every round)"
for lines in "${sizes[@]}"; do
  for tool in "${tools[@]}"; do
    ln -sf "$(input_of "$lines")" "$scratch/$tool/infile.euc"
  done
  repeats=5
  ((lines >= 10000000)) && repeats=3
  for ((round = 0; round < repeats; round++)); do
    for ((t = 0; t < ${#tools[@]}; t++)); do
      measure "${tools[(t + round) % ${#tools[@]}]}" "$lines"
    done
  done
  echo "   $lines lines: $repeats rounds done"
done

echo
echo "== Median of 5 runs (3 at 10M): seconds, and peak RSS in MiB"
printf '%-10s %-12s %8s %8s %8s %10s\n' lines tool wall user sys "peak RSS"
for lines in "${sizes[@]}"; do
  label=$lines
  for tool in "${tools[@]}"; do
    f=$results/$lines.$tool
    printf '%-10s %-12s %8.2f %8.2f %8.2f %10.1f\n' "$label" \
      "${tool_name[$tool]}" "$(median "$f" '$1')" "$(median "$f" '$2')" \
      "$(median "$f" '$3')" "$(median "$f" '$4 / 1024')"
    label=
  done
done

echo
echo "== dedupe against its targets"
echo "   /floor: wall time over the write floor's, at most 1.25"
echo "   cpu/fl.: the same for user + system time, less disturbed by other load"
echo "   /sort: wall time over sort -u's"
echo "   peak RSS: at most the budget, distinct bytes + 32 x distinct + 8 MiB"
echo "   ns/line: wall time per input line; vs 1M at most 1.3 at 10M"
printf '%-10s %10s %10s %7s %7s %7s %8s %8s %8s %7s\n' lines non-blank \
  distinct /floor cpu/fl. /sort "RSS MiB" budget ns/line "vs 1M"
per_line_1m=
[[ -f $results/1000000.dedupe ]] &&
  per_line_1m=$(median "$results/1000000.dedupe" '$1 / 1000000 * 1e9')
for lines in "${sizes[@]}"; do
  read -r nonblank distinct distinct_bytes <"$results/$lines.counts"
  wall=$(median "$results/$lines.dedupe" '$1')
  floor=$(median "$results/$lines.floor" '$1')
  sorted=$(median "$results/$lines.sort" '$1')
  cpu=$(median "$results/$lines.dedupe" '$2 + $3')
  floor_cpu=$(median "$results/$lines.floor" '$2 + $3')
  rss=$(median "$results/$lines.dedupe" '$4')
  awk -v lines="$lines" -v nonblank="$nonblank" -v distinct="$distinct" \
    -v bytes="$distinct_bytes" -v wall="$wall" -v floor="$floor" \
    -v sorted="$sorted" -v cpu="$cpu" -v floor_cpu="$floor_cpu" \
    -v rss="$rss" -v base="$per_line_1m" 'BEGIN {
      mib = 1024 * 1024
      budget = (bytes + 32 * distinct) / mib + 8
      per_line = wall / lines * 1e9
      vs = base == "" ? "-" : sprintf("%.2f", per_line / base)
      printf "%-10s %10d %10d %7.2f %7.2f %7.2f %8.1f %8.1f %8.0f %7s\n",
        lines, nonblank, distinct, wall / floor, cpu / floor_cpu, wall / sorted,
        rss / 1024, budget, per_line, vs
      if (wall / floor > 1.25)
        printf "   MISS: dedupe/floor %.2f > 1.25\n", wall / floor
      if (rss / 1024 > budget) printf "   MISS: peak RSS over the budget\n"
      if (lines >= 10000000 && vs != "-" && vs + 0 > 1.3)
        printf "   MISS: time per line %s x that at 1M\n", vs
    }'
done

# The outputs take several hundred MB; the timings stay in results/.
rm -f "$scratch"/*/*.euc "$scratch"/*/*.txt
