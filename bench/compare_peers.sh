#!/usr/bin/env bash
# Times `orovox analyze` against aubiomfcc (Debian aubio-tools) over the same
# 10-minute 48 kHz recording at 60 frames per second (hop 800), side by side
# in alternation, several runs each, and prints the medians.
#
#   bench/compare_peers.sh [runs]        (default 5 runs of every command)
#
# The recording is made on the fly from espeak-ng speech, resampled to 48 kHz
# and repeated to 10 minutes with sox; it lives in a temporary directory and
# is removed afterwards. Every command writes its text output to a file, so
# both sides pay for formatting and writing. The medians also go to
# $OROVOX_BUILD_DIR/bench/peers.tsv (command, median wall and CPU seconds,
# every wall time), where
# bench/run picks them up.
#
# Environment: OROVOX_BUILD_DIR (default build), OROVOX_TOOL (default
# $OROVOX_BUILD_DIR/orovox), PEERS_SECONDS (recording length, default 600).
set -euo pipefail
cd "$(dirname "$0")/.."

runs="${1:-5}"
build="${OROVOX_BUILD_DIR:-build}"
tool="${OROVOX_TOOL:-$build/orovox}"
seconds="${PEERS_SECONDS:-600}"

fail() { echo "compare_peers: $*" >&2; exit 1; }
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "usage: bench/compare_peers.sh [runs]" >&2; exit 2; }
for p in espeak-ng sox soxi aubiomfcc; do
  command -v "$p" >/dev/null || fail "$p is not installed (apt-get install espeak-ng sox aubio-tools)"
done
[ -x "$tool" ] || fail "$tool is not built yet (ninja -C $build)"
"$tool" analyze --help >/dev/null 2>&1 || fail "$tool has no working 'analyze' command yet"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# --- The recording ---------------------------------------------------------------------
text="The quick brown fox jumps over the lazy dog. A bright orange moon rose over \
the quiet village, and every window glowed with warm light. Who would have \
thought that such a small idea could change so much? Open your mouth wide and \
say ah, then ee, then oo, and listen to how the sound of each vowel changes."
espeak-ng -s 150 -w "$work/speech.wav" "$text" 2>/dev/null
sox "$work/speech.wav" -r 48000 -c 1 -b 16 "$work/speech48.wav"
one="$(soxi -D "$work/speech48.wav")"
repeats="$(awk -v total="$seconds" -v one="$one" 'BEGIN { print int(total / one) + 1 }')"
sox "$work/speech48.wav" "$work/recording.wav" repeat "$repeats" trim 0 "$seconds"
echo "compare_peers: $(soxi -D "$work/recording.wav") s at $(soxi -r "$work/recording.wav") Hz, $runs runs each" >&2

# --- The commands, timed in alternation ----------------------------------------------------
wav="$work/recording.wav"
names=(
  "orovox analyze --fps 60 --jobs 1"
  "orovox analyze --fps 60 --jobs 2"
  "aubiomfcc -B 2048 -H 800"
  "aubiomfcc -B 1024 -H 800"
)
run_command() {
  case "$1" in
    0) "$tool" analyze "$wav" --fps 60 --jobs 1 -o "$work/out1.csv" ;;
    1) "$tool" analyze "$wav" --fps 60 --jobs 2 -o "$work/out2.csv" ;;
    2) aubiomfcc -i "$wav" -B 2048 -H 800 >"$work/aubio2048.txt" ;;
    3) aubiomfcc -i "$wav" -B 1024 -H 800 >"$work/aubio1024.txt" ;;
  esac
}

# Wall time is what the targets compare; CPU time (user + system) beside it
# shows how much a busy machine stretched the wall clock.
declare -a walls cpus
TIMEFORMAT='%R %U %S'
for ((r = 0; r < runs; ++r)); do
  for i in "${!names[@]}"; do
    if { time run_command "$i" 2>"$work/err.txt"; } 2>"$work/time.txt"; then
      read -r real user sys <"$work/time.txt"
      walls[$i]+="$real "
      cpus[$i]+="$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.3f", u + s }') "
    else
      echo "compare_peers: '${names[$i]}' failed: $(head -c 300 "$work/err.txt")" >&2
      walls[$i]+="failed "
    fi
  done
done

median() {
  tr ' ' '\n' | grep -E '^[0-9.]+$' | sort -n |
    awk '{ v[NR] = $1 } END { if (NR == 0) print "failed"; else if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Frame counts, as a check that both sides did the same amount of work.
frames_ours="$( [ -f "$work/out1.csv" ] && wc -l <"$work/out1.csv" || echo 0)"
frames_aubio="$( [ -f "$work/aubio2048.txt" ] && wc -l <"$work/aubio2048.txt" || echo 0)"

mkdir -p "$build/bench"
out="$build/bench/peers.tsv"
{
  echo "# command	median wall s	median cpu s	wall runs	(orovox lines: $frames_ours, aubiomfcc lines: $frames_aubio)"
  for i in "${!names[@]}"; do
    printf '%s\t%s\t%s\t%s\n' "${names[$i]}" "$(echo "${walls[$i]:-}" | median)" \
      "$(echo "${cpus[$i]:-}" | median)" "$(echo "${walls[$i]:-}" | xargs | tr ' ' ',')"
  done
} | tee "$out"
