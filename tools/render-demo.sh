#!/usr/bin/env bash
# Builds the plug-in, stages its bundle, and runs a dry signal through it
# with lv2apply, as a host would, so that you can listen to the result.
#
# Usage: tools/render-demo.sh [INPUT [OUTPUT [-c SYMBOL VALUE]...]]
#   INPUT   any audio file sox reads (mixed down to mono, 3 s of silence
#           added for the tail); default: a few seconds of plucks and noise
#           bursts made on the spot
#   OUTPUT  the stereo WAV to write; default: out/zulvamoret-demo-wet.wav
#   -c ...  control values passed on to lv2apply, e.g. -c decay_first 4000
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/tools/debian-packages.sh"
uri=http://zulvamoret.org/plugins/zulvamoret-tarnwise

input=${1:-}
output=${2:-$root/out/zulvamoret-demo-wet.wav}
shift $(( $# < 2 ? $# : 2 ))

ensure_debian_packages cmake make g++ pkg-config lv2-dev lilv-utils sox libsox-fmt-base

build=$root/build-demo
stage=$build/stage
echo "== Building in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZT_BUILD_TESTS=OFF -DZT_BUILD_BENCHMARKS=OFF \
    -DZT_LV2_INSTALL_DIR=lib/lv2 >/dev/null
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)"
rm -rf "$stage"
cmake --install "$build" --prefix "$stage" >/dev/null
export LV2_PATH=$stage/lib/lv2
echo "== Bundle staged in $LV2_PATH/zulvamoret-tarnwise.lv2"

echo "== Ports (lv2info)"
lv2info "$uri" | awk '
    function flush() {
        if (symbol == "") return
        if (kind ~ /audio/) printf "  %2d %-17s %s\n", index_, symbol, kind
        else printf "  %2d %-17s %-10s %8s .. %-8s default %s\n", index_, symbol, kind, min, max, def
    }
    /^\tPort [0-9]+:/ { flush(); index_ = $2 + 0; symbol = kind = min = max = def = "" }
    /#AudioPort/ { kind = "audio" }  /#ControlPort/ { kind = "control" }
    /#InputPort/ { kind = kind " in" }  /#OutputPort/ { kind = kind " out" }
    /Symbol:/ { symbol = $2 }  /Minimum:/ { min = $2 + 0 }  /Maximum:/ { max = $2 + 0 }  /Default:/ { def = $2 + 0 }
    END { flush() }'

mkdir -p "$(dirname "$output")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -z "$input" ]; then
    dry=$root/out/zulvamoret-demo-dry.wav
    mkdir -p "$(dirname "$dry")"
    gen() { sox -n -r 48000 -c 1 -b 24 "$work/$1.wav" "${@:2}"; }
    gen 1 synth 0.7 pluck A2 fade q 0.002 0.7 0.5
    gen 2 trim 0 0.5
    gen 3 synth 0.5 pluck E3 fade q 0.002 0.5 0.35
    gen 4 trim 0 0.6
    gen 5 synth 0.06 pinknoise fade q 0.001 0.06 0.04
    gen 6 trim 0 0.9
    gen 7 synth 0.4 pluck C4 fade q 0.002 0.4 0.3
    gen 8 synth 0.4 pluck G4 fade q 0.002 0.4 0.3
    gen 9 trim 0 0.7
    gen 10 synth 0.03 whitenoise fade q 0.001 0.03 0.02
    gen 11 trim 0 3.5
    sox "$work"/{1,2,3,4,5,6,7,8,9,10,11}.wav "$dry" norm -3
    echo "== Dry test signal (plucks and noise bursts, then 3.5 s for the tail): $dry"
else
    dry=$work/input-mono.wav
    sox "$input" -b 24 "$dry" remix - pad 0 3
    echo "== Input $input mixed down to mono with 3 s of tail room"
fi

# A fresh instance glides every unit from its start length to the set one
# over its first seconds; let that pass on silence and cut it off again.
lead=4
sox "$dry" "$work/led-in.wav" pad "$lead" 0
echo "== Processing with lv2apply ${*:-(default controls)}"
lv2apply -i "$work/led-in.wav" -o "$work/wet-led-in.wav" "$@" "$uri"
sox "$work/wet-led-in.wav" "$output" trim "$lead"

echo "== Wrote $output"
sox --i "$output" | sed -n '/Channels\|Sample Rate\|Duration/p'
sox "$output" -n stat 2>&1 | sed -n '/Maximum amplitude\|RMS     amplitude/p'
if [ -z "$input" ]; then echo "   dry signal: $dry"; fi
echo "Listen with: play \"$output\""
