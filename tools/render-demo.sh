#!/usr/bin/env bash
# Builds the plug-in and its renderer, installs them under the build
# directory, and runs a dry signal through the plug-in with zt-render, a
# native LV2 host, using one of the bundle's presets. Writes the wet WAV
# file, the impulse response and two pictures: the decay of the impulse
# response with its measured T60, and a spectrogram of the dry signal against
# the wet one.
#
# Usage: tools/render-demo.sh [-p PRESET] [-c SYMBOL VALUE]... [INPUT [OUTPUT]]
#        tools/render-demo.sh --list
#   -p PRESET  a preset's name or short name (default: Concert Hall);
#              --list shows them all
#   -c ...     a control value on top of the preset, e.g. -c decay_last 4000
#   INPUT      any audio file sox reads (mixed down to mono and resampled to
#              48 kHz; the reverb's tail is added at the end); default:
#              plucks, a drum pattern of noise bursts and a sustained chord
#              made on the spot
#   OUTPUT     the stereo 32-bit float WAV to write (default:
#              out/zulvamoret-demo-wet.wav); the other files go beside it
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
. "$root/tools/debian-packages.sh"
rate=48000

usage() { sed -n '/^# Usage:/,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2; exit 2; }
die() { echo "$*" >&2; exit 1; }

preset="Concert Hall"
list=0
overrides=()
positional=()
while [ $# -gt 0 ]; do
    case $1 in
        -p|--preset) [ $# -ge 2 ] || usage; preset=$2; shift 2 ;;
        -c) [ $# -ge 3 ] || usage; overrides+=("$2" "$3"); shift 3 ;;
        --list) list=1; shift ;;
        -h|--help) usage ;;
        -*) echo "Unknown option $1" >&2; usage ;;
        *) positional+=("$1"); shift ;;
    esac
done
[ ${#positional[@]} -le 2 ] || usage
input=${positional[0]:-}
output=${positional[1]:-$root/out/zulvamoret-demo-wet.wav}
case $output in /*) ;; *) output=$PWD/$output ;; esac

ensure_debian_packages cmake make g++ pkg-config lv2-dev liblilv-dev libsndfile1-dev sordi sox libsox-fmt-base gnuplot-nox

# --- The arguments, checked against the bundle's Turtle before any build ---
# Control input ports and preset names, as the metadata declares them.
turtle() { sordi "$root/bundle/$1" 2>/dev/null; }
mapfile -t controls < <(turtle zulvamoret-tarnwise.ttl | awk '
    $2 == "<http://lv2plug.in/ns/lv2core#port>" { port[$3] = 1 }
    $2 == "<http://lv2plug.in/ns/lv2core#symbol>" { symbol[$1] = $3 }
    $3 == "<http://lv2plug.in/ns/lv2core#ControlPort>" { control[$1] = 1 }
    $3 == "<http://lv2plug.in/ns/lv2core#InputPort>" { input[$1] = 1 }
    END { for (p in port) if (control[p] && input[p]) { s = symbol[p]; gsub(/"/, "", s); print s } }' | sort)
[ ${#controls[@]} -gt 0 ] || die "Cannot read the control ports from $root/bundle/zulvamoret-tarnwise.ttl"
if [ "$list" = 0 ]; then
    known=0
    while read -r slug label; do
        [ "${slug,,}" = "${preset,,}" ] || [ "${label,,}" = "${preset,,}" ] && known=1
    done < <(turtle presets.ttl | sed -n 's|^<[^>]*#\([^>]*\)> <http://www.w3.org/2000/01/rdf-schema#label> "\(.*\)" \.$|\1 \2|p')
    [ "$known" = 1 ] || die "No preset named \"$preset\"; tools/render-demo.sh --list shows them"
    for ((i = 0; i < ${#overrides[@]}; i += 2)); do
        symbol=${overrides[i]} value=${overrides[i + 1]}
        printf '%s\n' "${controls[@]}" | grep -qx -- "$symbol" ||
            die "No control named $symbol; the controls are: ${controls[*]}"
        [[ $value =~ ^[-+]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][-+]?[0-9]+)?$ ]] &&
            awk -v v="$value" 'BEGIN { exit !(v + 0 <= 3.4e38 && v + 0 >= -3.4e38) }' ||
            die "The value of $symbol must be a finite number, not \"$value\""
    done
    case $output in *.wav|*.WAV) ;; *) die "The output is a 32-bit float WAV file: give it a name that ends in .wav, not $output" ;; esac
    if [ -n "$input" ]; then
        [ -r "$input" ] || die "Cannot read $input"
        [ ! "$input" -ef "$output" ] || die "$output is the input file; choose another output name"
    fi
fi

out_dir=$(dirname "$output")
base=${output%.*}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
float=(-e floating-point -b 32)

# --- Your input, converted and checked before the build --------------------
if [ -n "$input" ] && [ "$list" = 0 ]; then
    dry=$work/input-mono.wav
    input_rate=$(sox --i -r "$input") || die "sox cannot read $input"
    declared=$(sox --i -D "$input")
    sox -V2 "$input" -r $rate "${float[@]}" "$dry" remix - || die "sox cannot convert $input"
    # A file cut short converts without an error, into less than its header
    # promises: refuse it rather than render silence or half a song.
    got=$(sox --i -D "$dry")
    awk -v d="$declared" -v g="$got" 'BEGIN { exit !(d > 0 && g >= d * 0.99 - 0.01) }' ||
        die "$input is cut short or empty: its header promises $declared s, it holds $got s"
    echo "== Input: $input, mixed to mono$([ "$input_rate" = $rate ] || echo ", resampled from $input_rate Hz to $rate Hz")"
fi

# --- Build and install the bundle and the tools under the build directory --
build=$root/build-demo
stage=$build/stage
echo "== Building in $build"
log=$build/build.log
mkdir -p "$build"
if ! { cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZT_BUILD_TESTS=OFF -DZT_BUILD_BENCHMARKS=OFF \
        -DZT_LV2_INSTALL_DIR=lib/lv2 &&
       cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" &&
       rm -rf "$stage" && cmake --install "$build" --prefix "$stage"; } >"$log" 2>&1; then
    cat "$log" >&2
    die "Build failed; the log above is also in $log"
fi
export LV2_PATH=$stage/lib/lv2
tools=$build/tools/host
echo "   bundle installed in $LV2_PATH/zulvamoret-tarnwise.lv2"

if [ "$list" = 1 ]; then
    echo "== Presets in the bundle (name, short name, description)"
    "$tools/zt-render" --list | sed 's/^/   /'
    exit 0
fi

echo "== Preset: $("$tools/zt-presets" describe "$preset")"
[ ${#overrides[@]} -eq 0 ] || echo "   changed:$(printf ' %s=%s' "${overrides[@]}")"
render_args=(-p "$preset")
for ((i = 0; i < ${#overrides[@]}; i += 2)); do render_args+=(-c "${overrides[i]}" "${overrides[i + 1]}"); done

# --- The dry signal ------------------------------------------------------
mkdir -p "$out_dir"

if [ -z "$input" ]; then
    dry=$out_dir/zulvamoret-demo-dry.wav
    parts=()
    # event START LENGTH SYNTH_ARGS...: one sound placed at START seconds
    event() {
        local start=$1 length=$2 file=$work/event-${#parts[@]}.wav
        shift 2
        sox -n -r $rate -c 1 "${float[@]}" "$file" synth "$length" "$@" pad "$start" 0
        parts+=(-v 0.25 "$file")
    }
    pluck() { event "$1" 1.2 pluck "$2" fade q 0.003 1.2 1.0; }
    # Plucked arpeggio, then a strummed chord.
    t=0
    for note in A2 E3 A3 C4 E4 A4 E4 C4; do pluck "$t" "$note"; t=$(awk -v t="$t" 'BEGIN { print t + 0.25 }'); done
    for note in A2 E3 A3 C4; do pluck 2.0 "$note"; done
    # A bar and a half of drums at 110 BPM: a falling sine as kick, noise
    # bursts as snare and hi-hat, and a gap after the last snare.
    for b in 0 1 2 3 4 5 6; do
        s=$(awk -v b=$b 'BEGIN { print 3.6 + b * 0.545 }')
        case $b in 0|2|4|5) event "$s" 0.35 sine 120:40 fade q 0.002 0.35 0.3 vol 0.9 ;; esac
        case $b in 1|3|6) event "$s" 0.22 whitenoise vol 0.5 lowpass 6000 highpass 200 fade q 0.001 0.22 0.2 ;; esac
        for h in 0 0.2725; do
            event "$(awk -v s="$s" -v h=$h 'BEGIN { print s + h }')" 0.05 whitenoise vol 0.25 highpass 7000 fade q 0.001 0.05 0.045
        done
    done
    # A sustained A minor chord with soft edges.
    for note in A2 A3 C4 E4 A4; do event 8.0 2.6 triangle "$note" fade h 0.15 2.6 0.5 vol 0.35; done
    sox -m "${parts[@]}" "${float[@]}" "$dry" norm -3
    echo "== Dry signal: plucks, drums of noise bursts, a sustained chord"
    echo "   $dry"
fi

# --- Render through zt-render ---------------------------------------------
# zt-render lets a fresh instance settle on silence, runs the plug-in in
# calls of 256 samples and adds the tail until it falls below -90 dBFS.
echo "== Processing with zt-render (the plug-in as a host loads it)"
"$tools/zt-render" "${render_args[@]}" "$dry" "$output" | tee "$work/render.txt" | sed 's/^zt-render: /   /'

echo "== Impulse response (the same controls, wet only)"
ir=$base-impulse-response.wav
# Long enough for the decay picture to reach -60 dB: one and a half times
# the longer decay time, and a second and a half.
decay_ms=$({ "$tools/zt-presets" controls "$preset"; printf '%s %s\n' "${overrides[@]}"; } |
    awk '$1 == "decay_first" || $1 == "decay_last" { v[$1] = $2 }
         END { print (v["decay_first"] > v["decay_last"] ? v["decay_first"] : v["decay_last"]) }')
ir_seconds=$(awk -v d="$decay_ms" 'BEGIN { printf "%.1f", d / 1000 * 1.5 + 1.5 }')
printf '\x00\x00\x80\x3f' >"$work/impulse.f32"  # one sample of 1.0, little-endian float
# (sox counts the full-scale sample as clipped: -V1 keeps that quiet)
sox -V1 -t f32 -r $rate -c 1 "$work/impulse.f32" "${float[@]}" "$work/impulse.wav" pad 0 "$ir_seconds"
"$tools/zt-render" "${render_args[@]}" -c mix 100 "$work/impulse.wav" "$ir" >/dev/null
declare -A decay=()
while IFS='=' read -r key value; do decay[$key]=$value; done < <("$tools/zt-ir-decay" "$ir" "$work/curves.dat")

# --- Pictures ---------------------------------------------------------------
label=$("$tools/zt-presets" describe "$preset" | cut -d: -f1)
decay_png=$base-decay.png
if [ "${decay[t60]}" = "-1.000" ]; then
    t60_text="T60 not measurable"
else
    t60_text="T60 = $(awk -v t="${decay[t60]}" 'BEGIN { printf "%.2f", t }') s"
fi
gnuplot <<EOF
set terminal pngcairo size 1200,700 font "Sans,13"
set output "$decay_png"
set title "$label: decay of the impulse response, $t60_text" font "Sans,16"
set xlabel "time after the impulse (s)"
set ylabel "level (dB)"
set grid
set yrange [-90:5]
set xrange [0:${decay[length]}]
set key top right box opaque
# The stretch the line is fitted to: where the integrated curve falls from -5 to -35 dB.
set object 1 rect from ${decay[fit_start]}, graph 0 to ${decay[fit_end]}, graph 1 fc rgb "#fbe9d0" fs solid noborder behind
set style textbox opaque noborder
set label 2 "fitted from -5 to -35 dB" at ${decay[fit_start]}, -86 offset 0.5,0 boxed front tc rgb "#a0622d"
t60 = ${decay[t60]}
if (t60 > 0) {
    set arrow 1 from t60, -90 to t60, -60 nohead dt 2 lw 2 lc rgb "#c0392b"
    set arrow 2 from 0, -60 to t60, -60 nohead dt 2 lw 2 lc rgb "#c0392b"
    # Left of the marker and below -60 dB the curve has already passed.
    set label 1 "$t60_text" at t60, -72 right offset -0.8,0 boxed front tc rgb "#c0392b" font "Sans,15"
}
fit_line(x) = ${decay[intercept]} + ${decay[slope]} * x
plot "$work/curves.dat" using 1:2 with lines lw 1 lc rgb "#9bb7d4" title "energy in 5 ms windows", \\
     "" using 1:3 with lines lw 3 lc rgb "#1f4e79" title "backward-integrated energy", \\
     fit_line(x) with lines dt 3 lw 2 lc rgb "#c0392b" title sprintf("fitted line, %.1f dB/s, extended to -60 dB", ${decay[slope]})
EOF

spectrogram_png=$base-spectrogram.png
# Channel 1 the dry signal, channel 2 the wet one (left and right mixed,
# scaled to full scale if it goes above: sox clips floats on reading), both
# drawn up to 12 kHz where the music is.
"$tools/zt-mono" "$output" "$work/wet-mono.wav"
sox -V1 -M "$dry" "$work/wet-mono.wav" "$work/both.wav"
sox "$work/both.wav" -n rate 24k spectrogram -x 1400 -Y 900 -z 100 \
    -t "$label: dry (top) against wet (bottom)" -c "zulvamoret-tarnwise through zt-render" -o "$spectrogram_png"

# --- Report -----------------------------------------------------------------
echo "== Done"
echo "   wet signal:         $output"
[ -n "$input" ] || echo "   dry signal:         $dry"
echo "   impulse response:   $ir ($t60_text)"
echo "   decay picture:      $decay_png"
echo "   spectrogram:        $spectrogram_png"
echo "   $(sed -n 's/^zt-render: peak/peak level of the wet signal:/p' "$work/render.txt")"
echo "Listen with: play \"$output\""
