# Sourced by scripts/test and scripts/run: the Wine prefix, the persistent wineserver and the
# virtual display. Callers set SUITE_ROOT and call harness_cleanup from an EXIT trap.

SUITE_WINEPREFIX=${SUITE_WINEPREFIX:-$SUITE_ROOT/build/wineprefix}
WINESERVER_BIN=/usr/lib/wine/wineserver64
WINE64_BIN=/usr/lib/wine/wine64
harness_xvfb_pid=
harness_server_started=
harness_watch_pid=

export WINEPREFIX=$SUITE_WINEPREFIX
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer; no crash debugger (its dialog would hold a crashed test open).
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;winedbg.exe=d}

# True when this machine can run 32-bit Linux programs (Wine's 32-bit loader is one).
harness_can_run_32() {
  /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

harness_start_display() {
  if [ -n "${DISPLAY:-}" ] && [ -z "${SUITE_OWN_DISPLAY:-}" ]; then
    return 0
  fi
  local n
  for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 </dev/null &
      harness_xvfb_pid=$!
      local i
      for i in $(seq 1 100); do
        if [ -e "/tmp/.X11-unix/X$n" ]; then
          export DISPLAY=":$n"
          return 0
        fi
        kill -0 "$harness_xvfb_pid" 2>/dev/null || break
        sleep 0.1
      done
      kill "$harness_xvfb_pid" 2>/dev/null || true
      wait "$harness_xvfb_pid" 2>/dev/null || true
      harness_xvfb_pid=
    fi
  done
  echo "harness: could not start a virtual display (Xvfb)" >&2
  return 1
}

# Creates and boots the prefix once; a prefix that finished booting has a marker file.
harness_boot_prefix() {
  local marker=$SUITE_WINEPREFIX/.suite-booted
  [ -e "$marker" ] && return 0
  mkdir -p "$(dirname "$SUITE_WINEPREFIX")"
  echo "harness: booting the Wine prefix $SUITE_WINEPREFIX"
  local log=$SUITE_ROOT/build/wineboot.log
  if ! timeout 900 "$WINE64_BIN" wineboot -i >"$log" 2>&1; then
    cat "$log" >&2
    echo "harness: Wine could not boot its prefix" >&2
    return 1
  fi
  timeout 120 "$WINESERVER_BIN" -w || true
  if [ ! -d "$SUITE_WINEPREFIX/drive_c/windows/system32" ]; then
    cat "$log" >&2
    echo "harness: Wine could not boot its prefix" >&2
    return 1
  fi
  touch "$marker"
}

harness_start_wineserver() {
  # One persistent server for the whole run: without it each program pays Wine's start-up.
  # The server puts itself in the background once its socket is ready. A server left by an
  # interrupted run of this prefix goes first.
  "$WINESERVER_BIN" -k </dev/null >/dev/null 2>&1 && timeout 30 "$WINESERVER_BIN" -w >/dev/null 2>&1
  if ! "$WINESERVER_BIN" -p </dev/null >/dev/null 2>&1; then
    echo "harness: could not start the wineserver" >&2
    return 1
  fi
  harness_server_started=1
  # The first program of a prefix starts Wine's own services; let that happen once, alone.
  timeout 120 "$WINE64_BIN" cmd.exe /c exit >/dev/null 2>&1 </dev/null || true
}

# The Wine processes of this prefix (the server, the loaders and the programs they run), by id.
# A program whose main thread has ended while others still wait shows only through those.
harness_prefix_processes() { # binary name pattern (a case pattern)
  local p t exe
  for p in /proc/[0-9]*; do
    exe=
    for t in "$p"/task/*; do
      exe=$(readlink "$t/exe" 2>/dev/null) && break
    done
    case $exe in $1) ;; *) continue ;; esac
    tr '\0' '\n' 2>/dev/null <"$t/environ" | grep -qxF "WINEPREFIX=$SUITE_WINEPREFIX" &&
      echo "${p#/proc/}"
  done
}

# Watches the prefix's wineserver while the tests run. A program whose server has gone waits
# for ever (its threads block on pipes only the server would write), so a test running at that
# moment would sit until its CTest time-out, stopped at whatever it was doing. When the server
# goes, this says so, ends the prefix's programs left behind (their tests fail at once) and
# starts a server again (with its services, not under a test program, whose output pipes they
# would inherit and hold open). Each end is written to $1, a log the caller reports from.
harness_watch_wineserver() { # log file
  local log=$1
  : >"$log"
  (
    trap - EXIT INT TERM
    local parent=$$ restarts=0 p round
    while kill -0 "$parent" 2>/dev/null && [ "$restarts" -lt 10 ]; do
      sleep 2
      [ -n "$(harness_prefix_processes '*/wineserver*')" ] && continue
      kill -0 "$parent" 2>/dev/null || break
      echo "harness: the wineserver of $SUITE_WINEPREFIX ended during the tests at $(date -u +%T);" \
           "the Wine programs left waiting on it are ended and a server is started again" | tee -a "$log" >&2
      # The loaders left behind; then a server a new program has started meanwhile goes with
      # the programs on it (-k), and what its services left, before the harness's own start.
      for round in 1 2; do
        for p in $(harness_prefix_processes /usr/lib/wine/wine) \
                 $(harness_prefix_processes /usr/lib/wine/wine64); do
          echo "   ended: $(tr '\0' ' ' 2>/dev/null <"/proc/$p/cmdline" | cut -c1-160) (process $p)" >>"$log"
          kill -KILL "$p" 2>/dev/null || true
        done
        [ $round = 1 ] || break
        "$WINESERVER_BIN" -k </dev/null >/dev/null 2>&1 && timeout 30 "$WINESERVER_BIN" -w >/dev/null 2>&1
        sleep 1
      done
      harness_start_wineserver || break
      echo "   a server runs again" >>"$log"
      restarts=$((restarts + 1))
    done
  ) &
  harness_watch_pid=$!
}

harness_stop_watch() {
  if [ -n "$harness_watch_pid" ]; then
    kill "$harness_watch_pid" 2>/dev/null || true
    wait "$harness_watch_pid" 2>/dev/null || true
    harness_watch_pid=
  fi
}

# Settings of the test prefix (scripts/test only; velmar's run prefix keeps Wine's defaults).
# Windows are left unmanaged: no window manager runs on the virtual display, and Wine waits up
# to 2 s for one at every show and hide of a managed window (every dialog of a test).
harness_test_prefix_settings() {
  local marker=$SUITE_WINEPREFIX/.suite-unmanaged
  [ -e "$marker" ] && return 0
  if ! timeout 120 "$WINE64_BIN" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
      >/dev/null 2>&1 </dev/null; then
    echo "harness: could not set the test prefix's window settings" >&2
    return 1
  fi
  touch "$marker"
}

harness_cleanup() {
  harness_stop_watch
  if [ -n "$harness_server_started" ]; then
    "$WINESERVER_BIN" -k >/dev/null 2>&1 || true
    timeout 30 "$WINESERVER_BIN" -w >/dev/null 2>&1 || true
    harness_server_started=
  fi
  if [ -n "$harness_xvfb_pid" ]; then
    kill "$harness_xvfb_pid" 2>/dev/null || true
    wait "$harness_xvfb_pid" 2>/dev/null || true
    harness_xvfb_pid=
  fi
}
