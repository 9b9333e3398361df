#!/usr/bin/env bash
# Draws bench/pi_bench.png from the output of pi_bench and splitting_bench:
# time against digits on log-log axes, the reference series against each
# series engine path on every core and the fastest path on one thread, and
# binary splitting on one thread and every core beside the straightforward
# splitting. Needs gnuplot (apt-get install -y gnuplot-nox).
#
#   bench/plot.sh [results.txt] [splitting_results.txt] [out.png]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
results="${1:-$here/results.txt}"
splitting_results="${2:-$here/splitting_results.txt}"
out="${3:-$here/pi_bench.png}"

if ! command -v gnuplot >/dev/null; then
  echo "plot.sh: gnuplot not found; install it with: apt-get install -y gnuplot-nox" >&2
  exit 1
fi

data="$(mktemp -d)"
trap 'rm -rf "$data"' EXIT

# One file per curve: "digits seconds" lines, from "DATA digits method threads seconds".
cores="$(awk '$1 == "DATA" && $3 != "reference" { if ($4 > max) max = $4 } END { print max + 0 }' "$results")"
awk -v dir="$data" -v cores="$cores" '
  $1 != "DATA" { next }
  $3 == "reference" { print $2, $5 > (dir "/reference"); next }
  $4 == cores { print $2, $5 > (dir "/" $3 "_all") }
  $4 == 1 && $3 == "avx512" { print $2, $5 > (dir "/avx512_one") }
' "$results"
if [[ -f "$splitting_results" ]]; then
  awk -v dir="$data" -v cores="$cores" '
    $1 != "DATA" { next }
    $3 == "splitting" && $4 == cores { print $2, $5 > (dir "/splitting_all") }
    $3 == "splitting" && $4 == 1 { print $2, $5 > (dir "/splitting_one") }
    $3 == "straightforward" { print $2, $5 > (dir "/straightforward") }
  ' "$splitting_results"
fi

plots=()
add_curve() {  # file title style
  [[ -s "$data/$1" ]] && plots+=("'$data/$1' using 1:2 with linespoints $3 title '$2'")
  return 0
}
add_curve reference "reference series" "lw 2 pt 7 lc rgb '#c0392b'"
add_curve integer_all "series engine, integer path, $cores threads" "pt 5 lc rgb '#7f8c8d'"
add_curve portable_all "series engine, portable path, $cores threads" "pt 9 lc rgb '#2980b9'"
add_curve avx2_all "series engine, AVX2 path, $cores threads" "pt 11 lc rgb '#8e44ad'"
add_curve avx512_one "series engine, AVX-512 path, 1 thread" "dt 2 pt 6 lc rgb '#27ae60'"
add_curve avx512_all "series engine, AVX-512 path, $cores threads" "lw 2 pt 7 lc rgb '#27ae60'"
add_curve straightforward "straightforward splitting, 2 threads" "pt 4 lc rgb '#e67e22'"
add_curve splitting_one "binary splitting, 1 thread" "dt 2 pt 8 lc rgb '#000000'"
add_curve splitting_all "binary splitting, $cores threads" "lw 2 pt 9 lc rgb '#000000'"

cpu="$(sed -n 's/^CPU: //p' "$results" | head -1)"
{
  echo "set terminal pngcairo size 900,600 font 'sans,10'"
  echo "set output '$out'"
  echo "set title 'Gauss formula for pi, whole run: time against digits ($cpu)'"
  echo "set logscale xy"
  echo "set xlabel 'decimal digits'"
  echo "set ylabel 'seconds'"
  echo "set format x '10^{%L}'"
  echo "set format y '10^{%L}'"
  echo "set xrange [7000:140000000]"
  echo "set grid xtics ytics mxtics mytics"
  echo "set key left top"
  (IFS=','; echo "plot ${plots[*]}")
} | gnuplot
echo "wrote $out"
