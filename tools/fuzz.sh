#!/usr/bin/env bash
# Builds the fuzz targets (preset fuzz: clang, libFuzzer, ASan, UBSan) and runs
# them; see docs/fuzzing.md.
#   bash tools/fuzz.sh run TARGET [SECONDS] [LIBFUZZER OPTIONS...]
#       fuzzes TARGET (default 600 s) at low priority in build/fuzz/work/TARGET,
#       starting from its saved corpus; crash inputs go to build/fuzz/crashes/TARGET
#   bash tools/fuzz.sh merge TARGET
#       adds to tests/fuzz/corpus/TARGET the work corpus inputs that reach
#       code or features the saved inputs do not
#   bash tools/fuzz.sh replay
#       runs every saved corpus and crash input once through the libFuzzer builds
# Targets: import_parse entry_parser strict_value line_reader inf_line
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh
# shellcheck disable=SC2086
ensure_packages $BRIX_BUILD_PACKAGES $BRIX_FUZZ_PACKAGES

usage() { sed -n '4,12p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }

# Longest input and dictionary per target.
target_options() {
  case "$1" in
    import_parse) echo "-max_len=8192 -dict=tests/fuzz/dict/registry_script.dict" ;;
    entry_parser) echo "-max_len=2048 -dict=tests/fuzz/dict/registry_script.dict" ;;
    strict_value) echo "-max_len=512 -dict=tests/fuzz/dict/registry_script.dict" ;;
    line_reader) echo "-max_len=12000 -dict=tests/fuzz/dict/registry_script.dict" ;;
    inf_line) echo "-max_len=700 -dict=tests/fuzz/dict/install_script.dict" ;;
    *) echo "unknown target: $1" >&2; usage ;;
  esac
}

build() {
  cmake --preset fuzz >/dev/null
  nice cmake --build --preset fuzz
}

command=${1:-}
case "$command" in
  run)
    target=${2:-}; [ -n "$target" ] || usage
    seconds=${3:-600}
    shift $(( $# < 3 ? $# : 3 ))
    options=$(target_options "$target")
    build
    work=build/fuzz/work/$target
    crashes=build/fuzz/crashes/$target
    mkdir -p "$work" "$crashes"
    inputs=(tests/fuzz/corpus/"$target")
    [ -d tests/fuzz/regressions/"$target" ] && inputs+=(tests/fuzz/regressions/"$target")
    # shellcheck disable=SC2086
    nice build/fuzz/tests/fuzz/fuzz_"$target" $options -max_total_time="$seconds" \
      -print_final_stats=1 -artifact_prefix="$crashes"/ "$@" "$work" "${inputs[@]}"
    ;;
  merge)
    target=${2:-}; [ -n "$target" ] || usage
    options=$(target_options "$target")
    build
    # Additive: every saved input stays (the named seeds and regression
    # lines among them); only work inputs that add coverage join them.
    before=$(find tests/fuzz/corpus/"$target" -type f | wc -l)
    # shellcheck disable=SC2086
    nice build/fuzz/tests/fuzz/fuzz_"$target" $options -merge=1 \
      tests/fuzz/corpus/"$target" build/fuzz/work/"$target"
    after=$(find tests/fuzz/corpus/"$target" -type f | wc -l)
    echo "tests/fuzz/corpus/$target: $after files ($((after - before)) added)"
    ;;
  replay)
    build
    ctest --preset fuzz
    ;;
  *) usage ;;
esac
