# Configures (once) and builds the fuzz programs in build/fuzz; sourced by
# the test stage and by run-long.sh. Sets FUZZ_DIR and FUZZ_PROGRAMS.
FUZZ_DIR=build/fuzz
if [ ! -f "$FUZZ_DIR/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$FUZZ_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDRAVNOK_FUZZ=ON \
    -DDRAVNOK_BUILD_TESTS=OFF -DDRAVNOK_RTC_BACKEND=none >/dev/null
fi
cmake --build "$FUZZ_DIR" --target fuzzers --parallel 2
FUZZ_PROGRAMS=()
for _source in fuzz/*_fuzz.cpp; do
  FUZZ_PROGRAMS+=("$(basename "$_source" .cpp)")
done
