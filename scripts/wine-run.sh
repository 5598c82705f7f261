#!/bin/sh
# Runs a Windows program under Wine in the project's private prefix.
# The prefix is made once by scripts/test-all.sh (wineboot -i).
export WINEPREFIX="${DRAVNOK_WINEPREFIX:-$HOME/.cache/dravnok/wineprefix}"
export WINEDEBUG=-all
# No Mono or Gecko installer dialogs, and a crash ends the program instead
# of waiting in the debugger.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
exec wine "$@"
