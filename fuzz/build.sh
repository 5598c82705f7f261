# Configures (once) and builds the fuzz programs in build/fuzz; sourced by
# the test stage and by run-long.sh. Sets FUZZ_DIR and FUZZ_PROGRAMS, and
# FUZZ_MAX_LEN with the -max_len option of each program that names one.
FUZZ_DIR=build/fuzz
if [ ! -f "$FUZZ_DIR/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$FUZZ_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDRAVNOK_FUZZ=ON \
    -DDRAVNOK_BUILD_TESTS=OFF -DDRAVNOK_RTC_BACKEND=none >/dev/null
fi
cmake --build "$FUZZ_DIR" --target fuzzers --parallel 2
FUZZ_PROGRAMS=()
declare -A FUZZ_MAX_LEN=()
for _source in fuzz/*_fuzz.cpp; do
  _program="$(basename "$_source" .cpp)"
  FUZZ_PROGRAMS+=("$_program")
  # A "// fuzz-max-len: N" line lets inputs grow past the size limits of
  # what the program parses; libFuzzer's own guess stays far below them.
  _max_len="$(sed -n 's|^// fuzz-max-len: *\([0-9]*\).*|\1|p' "$_source")"
  FUZZ_MAX_LEN[$_program]="${_max_len:+-max_len=$_max_len}"
done
