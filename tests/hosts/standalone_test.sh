#!/usr/bin/env bash
# Runs the Standalone app on an X display (the CTest command wraps it in xvfb-run) with a four-in,
# four-out audio device, checks that its window appears and that it keeps running, takes a
# screenshot, closes the window with its close button and checks the app quits cleanly and kept the
# four-channel setup. ALSA's null device stands in for a sound card.
# usage: standalone_test.sh APP SCREENSHOT.png
set -euo pipefail
app=$1 screenshot=$2

home=$(mktemp -d)
trap 'rm -rf "$home"; [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null || true' EXIT
mkdir -p "$home/.config"
printf 'pcm.!default {\n    type null\n}\n' > "$home/.asoundrc"
cat > "$home/.config/Orvalis.settings" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<PROPERTIES>
  <VALUE name="audioSetup">
    <DEVICESETUP deviceType="ALSA" audioOutputDeviceName="default" audioInputDeviceName="default"
                 audioDeviceRate="48000.0" audioDeviceBufferSize="512"
                 audioDeviceInChans="1111" audioDeviceOutChans="1111"/>
  </VALUE>
  <VALUE name="shouldMuteInput" val="0"/>
</PROPERTIES>
XML

HOME="$home" "$app" > "$home/app.log" 2>&1 &
pid=$!

window=""
for _ in $(seq 1 100); do
    window=$(xdotool search --name '^Orvalis$' 2>/dev/null | head -1 || true)
    [ -n "$window" ] && break
    kill -0 "$pid" 2>/dev/null || { echo "the app quit before showing a window"; cat "$home/app.log"; exit 1; }
    sleep 0.1
done
[ -n "$window" ] || { echo "no window named Orvalis appeared"; exit 1; }

sleep 3
kill -0 "$pid" 2>/dev/null || { echo "the app stopped while running"; cat "$home/app.log"; exit 1; }
eval "$(xdotool getwindowgeometry --shell "$window")"
echo "window Orvalis: ${WIDTH}x${HEIGHT} at ${X},${Y}"
import -window root "$screenshot"
echo "screenshot: $screenshot"

# The close button sits at the right end of the app's own title bar.
xdotool mousemove $((X + WIDTH - 17)) $((Y + 14)) click 1
for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then echo "the app did not quit on its close button"; exit 1; fi
status=0
wait "$pid" || status=$?
pid=""
[ "$status" -eq 0 ] || { echo "the app exited with status $status"; cat "$home/app.log"; exit 1; }

grep -q 'audioDeviceInChans="1111"' "$home/.config/Orvalis.settings" \
    && grep -q 'audioDeviceOutChans="1111"' "$home/.config/Orvalis.settings" \
    || { echo "the four-channel audio setup was not kept:"; cat "$home/.config/Orvalis.settings"; exit 1; }
echo "quit cleanly with four inputs and four outputs"
