# Shared helpers for bench/*.sh. Times are wall-clock seconds from `date +%s.%N`.

# seconds CMD...: runs CMD with its output discarded and prints the wall time it took.
seconds() {
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.4f\n", b - a}'
}

# median V...: the median of the numbers given.
median() {
  printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {if (NR%2) print a[(NR+1)/2]; else printf "%.4f\n", (a[NR/2]+a[NR/2+1])/2}'
}

# ratio A B: A / B with three decimals.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f\n", a / b}'; }
