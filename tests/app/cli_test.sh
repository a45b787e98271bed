#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The headless command line, end to end: miral --headless with steps.
set -u
MIRAL="$1"
CFG="$(mktemp -d)"
trap 'rm -rf "$CFG"' EXIT
fail=0
check() {  # check NAME EXPECTED-EXIT EXPECTED-OUTPUT-REGEX -- args...
    local name="$1" want_rc="$2" want_out="$3"; shift 4
    local out rc
    out="$("$MIRAL" --headless --config-dir "$CFG" "$@" 2>&1)"; rc=$?
    if [ "$rc" != "$want_rc" ] || ! grep -Eq "$want_out" <<<"$out"; then
        echo "FAIL $name: exit $rc (want $want_rc), output:"; echo "$out"; fail=1
    else
        echo "ok   $name"
    fi
}
check initial 0 'Frequenza=1' -- --print Frequenza,Tempo,FftSize,BinWidth,genfreq
check group 0 $'Tempo=1\nFrequenza=0' -- --set Tempo=1 --print Tempo,Frequenza
check fun 0 'SidePanelMode=(.)' -- --print SidePanelMode --click fun --click fun --click fun --print SidePanelMode
out="$("$MIRAL" --headless --config-dir "$CFG" --print SidePanelMode --click fun --click fun --click fun --print SidePanelMode)"
[ "$(sed -n 1p <<<"$out")" = "$(sed -n 2p <<<"$out")" ] || { echo "FAIL fun cycle: $out"; fail=1; }
check unknown 2 'unknown control' -- --set Nonsense=1
check badvalue 2 'takes 1 or 0' -- --set Tempo=maybe
check badprint 2 'unknown control or field' -- --print Nothing
check badoption 2 'unknown option' -- --frobnicate
check version 0 '^miral [0-9]' -- --version
# Under a locale with a decimal comma numbers are still read and written with a point.
if locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    out="$(LC_ALL=de_DE.UTF-8 "$MIRAL" --headless --config-dir "$CFG" --set ComboBox3=2 --print BinWidth 2>&1)"
    grep -q '^BinWidth=1\.3' <<<"$out" || { echo "FAIL comma locale: $out"; fail=1; }
fi
printf 'Probe1=Garbage\x00\xff\xfe\nno equals\n%s\n' "$(head -c 100000 /dev/zero | tr '\0' 'x')" > "$CFG/Prefs.ini"
check garbage-prefs 0 'ComboBox5=Shunt B|ComboBox5=' -- --print ComboBox5
# Values outside their range take the defaults and are named once on stderr.
RANGE_CFG="$CFG/range"; mkdir -p "$RANGE_CFG"
printf 'Mag_Scale=100000\nnum_rx_device=2147483647\n' > "$RANGE_CFG/Prefs.ini"
out="$("$MIRAL" --headless --config-dir "$RANGE_CFG" --audio sim --set Tempo=1 --set dc1=1 --run 1 --print MagScale 2>&1)"
if [ "$(grep -c 'Mag_Scale=100000 is outside 1\.\.1000' <<<"$out")" != 1 ] || \
   [ "$(grep -c 'num_rx_device=2147483647 is outside' <<<"$out")" != 1 ] || ! grep -q '^MagScale=10$' <<<"$out"; then
    echo "FAIL prefs range: $out"; fail=1
else
    echo "ok   prefs range"
fi
# A picture of the whole panel needs no display: no DISPLAY, no platform chosen.
SHOT="$CFG/panel.png"
out="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$MIRAL" --headless --config-dir "$CFG" --audio sim \
       --window-shot "$SHOT" 2>&1)"; rc=$?
# Width and height from the PNG header (big-endian, bytes 16..23).
read -r -a ihdr <<<"$(od -An -tu1 -j16 -N8 "$SHOT" 2>/dev/null)"
if [ "$rc" != 0 ] || [ "${#ihdr[@]}" != 8 ]; then
    echo "FAIL window-shot: exit $rc, output:"; echo "$out"; fail=1
else
    w=$(( (ihdr[0]<<24) | (ihdr[1]<<16) | (ihdr[2]<<8) | ihdr[3] ))
    h=$(( (ihdr[4]<<24) | (ihdr[5]<<16) | (ihdr[6]<<8) | ihdr[7] ))
    if [ "$h" != 722 ] || { [ "$w" != 848 ] && [ "$w" != 680 ]; }; then
        echo "FAIL window-shot: picture is ${w}x${h}"; fail=1
    else
        echo "ok   window-shot ${w}x${h}"
    fi
fi
check badshot 2 'name the picture' -- --window-shot "$CFG/panel.gif"
# Runs on a WAV file and on the simulated bench, in simulated time.
DATA="$(cd "$(dirname "$0")/../data" && pwd)"
"$MIRAL" --headless --config-dir "$CFG" --audio "wav:$DATA/sine1k.wav" --set CheckBox4=0 --run 1 --dump TimeWorkA="$CFG/ta.txt" \
    --set hold=1 --dump TimeWorkA="$CFG/h1.txt" --run 0.5 --dump TimeWorkA="$CFG/h2.txt" >/dev/null 2>&1 || {
    echo "FAIL wav run"; fail=1; }
# The newest window in counts: the file's 16-bit samples are whole counts, peak 20000.
if awk 'BEGIN{m=0} {if ($1 != int($1)) bad=1; v=($1<0?-$1:$1); if (v>m) m=v} END{exit !(NR==16384 && !bad && m>19990 && m<=20000)}' "$CFG/ta.txt"; then
    echo "ok   wav window"; else echo "FAIL wav window"; fail=1; fi
if cmp -s "$CFG/h1.txt" "$CFG/h2.txt"; then echo "ok   hold keeps the window"; else echo "FAIL hold"; fail=1; fi
check badwav 3 'not-a-wav' -- --audio "wav:$CFG/not-a-wav.wav" --run 0.1
# Channel B delayed by exactly two samples at 44100 Hz.
"$MIRAL" --headless --config-dir "$CFG" --audio sim --dut delay-b:ns=45351.4739 --set genon1=1 --set Tempo=1 \
    --set mainselect=6 --run 0.5 --dump TimeWorkA="$CFG/da.txt" --dump TimeWorkB="$CFG/db.txt" >/dev/null 2>&1
if paste "$CFG/da.txt" "$CFG/db.txt" | awk '{a[NR]=$1; b[NR]=$2} END{for (i=3;i<=NR;i++){d=b[i]-a[i-2]; if (d<0) d=-d; if (d>1) exit 1}; exit !(NR>800)}'; then
    echo "ok   delayed channel B"; else echo "FAIL delayed channel B"; fail=1; fi
# A square table from the generator.
"$MIRAL" --headless --config-dir "$CFG" --audio sim --set genon1=1 --set gensqr1=1 --run 0.2 \
    --dump PlaybackA="$CFG/p.txt" >/dev/null 2>&1
if [ "$(sort -u "$CFG/p.txt" | wc -l)" = 2 ] && [ "$(wc -l < "$CFG/p.txt")" = 44100 ]; then
    echo "ok   square table"; else echo "FAIL square table"; fail=1; fi
# Power-off stores the panel; the next run comes up with it; the reset button voids it.
ST="$CFG/store"; mkdir -p "$ST"
"$MIRAL" --headless --config-dir "$ST" --audio sim --set genfreq=2000 --set black=1 --click Panel29 --print genfreq \
    >"$ST/off.txt" 2>&1
out="$("$MIRAL" --headless --config-dir "$ST" --audio sim --print genfreq,black 2>&1)"
if [ ! -s "$ST/off.txt" ] && grep -q '^genfreq=2000$' <<<"$out" && grep -q '^black=1$' <<<"$out"; then
    echo "ok   power-off and power-on"; else echo "FAIL power-off and power-on: $(cat "$ST/off.txt") $out"; fail=1; fi
# Answered "no", the reset key's question leaves the stored panel alone.
q="$("$MIRAL" --headless --config-dir "$ST" --audio sim --answer no --click SpeedButton22 2>&1)"
out="$("$MIRAL" --headless --config-dir "$ST" --audio sim --print genfreq 2>&1)"
if grep -q 'Forget the stored panel and switch off? no' <<<"$q" && grep -q '^genfreq=2000$' <<<"$out"; then
    echo "ok   reset key answered no"; else echo "FAIL reset key answered no: $q $out"; fail=1; fi
"$MIRAL" --headless --config-dir "$ST" --audio sim --click SpeedButton22 >/dev/null 2>&1
out="$("$MIRAL" --headless --config-dir "$ST" --audio sim --print genfreq 2>&1)"
if grep -q '^genfreq=4400$' <<<"$out"; then echo "ok   reset button"; else echo "FAIL reset button: $out"; fail=1; fi
# A damaged store: the defaults, a message, the file kept aside.
echo garbage > "$ST/registry.txt"
out="$("$MIRAL" --headless --config-dir "$ST" --audio sim --print genfreq 2>&1)"
if grep -q 'registry.txt is damaged' <<<"$out" && [ -f "$ST/registry.txt.bad" ]; then
    echo "ok   damaged store"; else echo "FAIL damaged store: $out"; fail=1; fi
# The Save button, its dialog answered on the command line.
"$MIRAL" --headless --config-dir "$ST" --audio sim --set genon1=1 --set CheckBox3=1 --set CheckBox6=1 --run 0.3 \
    --save-dialog "$ST/shot.jpeg" --click savescreen >/dev/null 2>&1
if [ "$(od -An -tx1 -N3 "$ST/shot.jpeg" 2>/dev/null | tr -d ' ')" = ffd8ff ] && [ "$(head -c 39 "$ST/shot.mat")" = \
     "MATLAB 5.0 MAT-file: FFT Array         " ] && [ "$(stat -c %s "$ST/shot.bin")" = $((12 + 8 * 4096)) ]; then
    echo "ok   save button"; else echo "FAIL save button: $(ls "$ST")"; fail=1; fi
# The default transfer-function excitation is noise: on the simulated bench
# two runs give the same picture bit for bit, --seed N another noise table.
XFR=(--audio sim --dut rc-lowpass:R=1000,C=1e-7 --set ComboBox3=16 --set trasf=1 --run 0.3)
"$MIRAL" --headless --config-dir "$CFG" "${XFR[@]}" --dump DisplayA="$CFG/x1.txt" --dump PlaybackA="$CFG/n1.txt" \
    >/dev/null 2>&1
"$MIRAL" --headless --config-dir "$CFG" "${XFR[@]}" --dump DisplayA="$CFG/x2.txt" >/dev/null 2>&1
"$MIRAL" --headless --config-dir "$CFG" --seed 7 "${XFR[@]}" --dump DisplayA="$CFG/x3.txt" \
    --dump PlaybackA="$CFG/n3.txt" >/dev/null 2>&1
"$MIRAL" --headless --config-dir "$CFG" --seed=7 "${XFR[@]}" --dump PlaybackA="$CFG/n4.txt" >/dev/null 2>&1
if [ -s "$CFG/x1.txt" ] && cmp -s "$CFG/x1.txt" "$CFG/x2.txt" && ! cmp -s "$CFG/x1.txt" "$CFG/x3.txt" && \
   [ "$(sort -u "$CFG/n1.txt" | wc -l)" -gt 1000 ] && ! cmp -s "$CFG/n1.txt" "$CFG/n3.txt" && cmp -s "$CFG/n3.txt" "$CFG/n4.txt"; then
    echo "ok   repeatable noise and --seed"; else echo "FAIL repeatable noise and --seed"; fail=1; fi
check badseed 2 'seed needs a whole number' -- --seed -3
check badseed2 2 'seed needs a whole number' -- --seed 12x
check seedhelp 0 '[-][-]seed N +seed of the' -- --help
# A configuration folder that cannot be made: said on stderr, and nothing is stored anywhere else.
echo x > "$CFG/blocker"; mkdir -p "$CFG/cwd"
out="$(cd "$CFG/cwd" && timeout 60 "$MIRAL" --headless --config-dir "$CFG/blocker/miral" --audio sim --click Panel29 2>&1)"
if grep -q "cannot create the configuration folder $CFG/blocker/miral" <<<"$out" && grep -q 'not stored' <<<"$out" \
   && [ -z "$(ls -A "$CFG/cwd")" ]; then
    echo "ok   configuration folder that cannot be made"
else echo "FAIL configuration folder that cannot be made: $out $(ls -A "$CFG/cwd")"; fail=1; fi
# FIFOs in the place of the stored files: a start at once, with the defaults and a message for each.
FI="$CFG/fifo"; mkdir -p "$FI"; mkfifo "$FI/registry.txt" "$FI/prefs.dat" "$FI/Prefs.ini"
out="$(timeout 60 "$MIRAL" --headless --config-dir "$FI" --audio sim --print genfreq 2>&1)"; rc=$?
if [ "$rc" = 0 ] && grep -q '^genfreq=4400$' <<<"$out" && [ "$(grep -o 'it is a FIFO' <<<"$out" | wc -l)" -ge 3 ]; then
    echo "ok   FIFOs in the place of the stored files"; else echo "FAIL FIFOs in the place of the stored files: exit $rc $out"; fail=1; fi
# The man page and --help name the same options, steps, inputs and keys.
MAN="$(dirname "$0")/../../data/miral.1"
man_text="$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$MAN")"
help_text="$("$MIRAL" --help)"
missing=""
for tok in $(grep -oE -- '--[a-z][a-z-]*|[a-z]+:FILE|FILE\.miral|Ctrl\+[^ ,]+|F11' <<<"$help_text" | sort -u); do
    grep -qF -- "$tok" <<<"$man_text" || missing="$missing $tok (not in the man page)"
done
for tok in $(grep -oE -- '--[a-z][a-z-]*' <<<"$man_text" | sort -u); do
    grep -qF -- "$tok" <<<"$help_text" || missing="$missing $tok (not in --help)"
done
if [ -z "$missing" ]; then echo "ok   the man page and --help agree"; else echo "FAIL man page and --help:$missing"; fail=1; fi
exit $fail
