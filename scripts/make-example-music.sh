#!/usr/bin/env bash
# Synthesises examples/show/music.ogg with sox: 32 s at 120 beats a minute
# (16 bars of 4/4), kick on every beat, hi-hat on the off-beats, a bass line
# and a pad that change chord every bar. Deterministic: same sox, same file.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$here/examples/show/music.ogg}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

rate=44100
synth() { sox -q -n -r $rate -c 1 "$@"; }

# One beat is 0.5 s; one bar is 2 s.
synth kick.wav synth 0.18 sine 150-45 fade q 0.002 0.18 0.16 gain -2 pad 0 0.32
synth hat.wav synth 0.04 whitenoise fade q 0.001 0.04 0.035 gain -14 highpass 8000 pad 0.25 0.21
sox kick.wav kicks.wav repeat 63
sox hat.wav hats.wav repeat 63

# Am - F - C - G, four times; bass in eighths, pad held for the bar.
bass_notes=(A1 F1 C2 G1)
pad_chords=("A3 C4 E4" "F3 A3 C4" "C4 E4 G4" "G3 B3 D4")
bars=()
for bar in $(seq 0 15); do
    i=$((bar % 4))
    synth "bass$bar.wav" synth 0.25 sawtooth "${bass_notes[$i]}" lowpass 300 fade q 0.005 0.25 0.08 gain -6 repeat 7
    read -r n1 n2 n3 <<<"${pad_chords[$i]}"
    synth "pad$bar.wav" synth 2 sine "$n1" sine "$n2" sine "$n3" remix - fade q 0.3 2 0.4 gain -16
    sox -m "bass$bar.wav" "pad$bar.wav" "bar$bar.wav"
    bars+=("bar$bar.wav")
done
sox "${bars[@]}" music.wav

sox -m kicks.wav hats.wav music.wav mix.wav gain -n -1 fade q 0 32 1.5
sox mix.wav -C 3 "$out"
echo "wrote $out ($(stat -c %s "$out") bytes, $(soxi -D "$out") s)"
