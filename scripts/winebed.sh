#!/usr/bin/env bash
# Runs a command inside a Wine test bed of its own: a private Xvfb display, a
# private WINEPREFIX and HOME under STATE_DIR, and a persistent wineserver.
# The prefix is booted once and reused; the display and the wineserver are
# always stopped again, whatever the command does.
#
#   scripts/winebed.sh STATE_DIR command [args...]
#   scripts/winebed.sh --pool POOL_DIR command [args...]
#
# With --pool the command gets the first bed POOL_DIR/N that no other command
# holds, and a new one when all are busy; so CTest can run several scenarios
# at once, each with a prefix, display and wineserver of its own, while a
# warm run boots no prefix.
#
# The command sees DISPLAY, WINEPREFIX, HOME, WINEDEBUG, WINEDLLOVERRIDES and
# LC_ALL (zh_CN.UTF-8, so that Wine's ANSI code page is 936 as on the users'
# machines). With KEEP_DISPLAY=1 and DISPLAY already set, the user's display is
# used instead of a private Xvfb.
set -uo pipefail

if [ "$1" = --pool ]; then
  pool=$(mkdir -p "$2" && cd "$2" && pwd); shift 2
  # The lock lives as long as this shell: fd 9 is closed for whatever may
  # outlive the command (Xvfb, the wineserver).
  for ((i = 0; ; i++)); do
    mkdir -p "$pool/$i" || exit 1
    exec 9>"$pool/$i/lock" && flock -n 9 && break
  done
  state="$pool/$i"
else
  state=$(mkdir -p "$1" && cd "$1" && pwd); shift
fi
export WINEPREFIX="$state/prefix"
export HOME="$state/home"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=zh_CN.UTF-8 LANG=zh_CN.UTF-8
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY
mkdir -p "$HOME"

xvfb_pid=
stop_xvfb() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" >/dev/null 2>&1 && wait "$xvfb_pid" 2>/dev/null
  xvfb_pid=
}
stop() {
  wineserver -k >/dev/null 2>&1
  stop_xvfb
}
trap stop EXIT
trap 'exit 130' INT TERM

# Xvfb picks a free display itself; the display is ours once our server
# answers on it and still runs.
start_xvfb() {
  local fifo n=
  fifo=$(mktemp -u); mkfifo "$fifo"
  Xvfb -displayfd 5 -screen 0 1280x800x24 -nolisten tcp 5>"$fifo" 9>&- >/dev/null 2>&1 &
  xvfb_pid=$!
  read -r -t 20 n <"$fifo"; rm -f "$fifo"
  [ -n "$n" ] || return 1
  export DISPLAY=":$n"
  for _ in $(seq 1 100); do
    kill -0 "$xvfb_pid" 2>/dev/null || return 1
    xdpyinfo >/dev/null 2>&1 && kill -0 "$xvfb_pid" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

if [ "${KEEP_DISPLAY:-0}" != 1 ] || [ -z "${DISPLAY:-}" ]; then
  # Beds that start together may meet on a display that one of them is
  # just leaving; the loser starts again.
  for try in 1 2 3; do
    start_xvfb && break
    stop_xvfb
    [ "$try" = 3 ] && { echo "winebed: Xvfb did not start" >&2; exit 1; }
  done
fi

if [ ! -f "$WINEPREFIX/.booted" ]; then
  rm -rf "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  # A crash must end the run, not wait for someone to close a dialog.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  # Chinese faces the users' machines have, mapped onto an installed CJK font.
  for face in SimSun NSimSun "Microsoft YaHei" SimHei "MS Shell Dlg" "MS Shell Dlg 2" Tahoma; do
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /t REG_SZ /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
  done
  wineserver -w
  touch "$WINEPREFIX/.booted"
fi

wineserver -p >/dev/null 2>&1 9>&-
# On a private Xvfb nobody manages windows; Wine would wait 2 s for a window
# manager each time an active window is hidden. On the user's own display the
# window manager does its job. Scenarios and figures that must meet a
# desktop as users have one start openbox for their time
# (tests/scenario/kit/wm.py), which sets this value to fit and back.
x11key='HKCU\Software\Wine\X11 Driver'
if [ -n "$xvfb_pid" ]; then
  wine reg add "$x11key" /v Managed /t REG_SZ /d N /f </dev/null >/dev/null 2>&1
else
  wine reg delete "$x11key" /v Managed /f </dev/null >/dev/null 2>&1
fi
# The first Wine program also starts Wine's own background programs, which
# inherit its output; started here, they do not hold the command's pipes open
# (CTest would otherwise wait for them until its time-out).
wine cmd /c exit </dev/null >/dev/null 2>&1
"$@"
rc=$?
exit $rc
