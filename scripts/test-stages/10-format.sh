# clang-format decides the layout of every C++ file.
set -euo pipefail
scripts/check-format.sh
