#!/bin/sh
# cmake --install gives a complete bundle, presets included, that hosts find
# under the prefix, and the renderer beside it: lv2info sees the ports and
# the presets, and the preset helper reads a description and every control
# value of each preset.
# Usage: check_installed_bundle.sh PREFIX CMAKE BUILD_DIR LV2INFO ZT_PRESETS
set -eu
prefix=$1 cmake=$2 build=$3 lv2info=$4 presets=$5
uri=http://zulvamoret.org/plugins/zulvamoret-tarnwise

rm -rf "$prefix"
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
bundle=$prefix/lib/lv2/zulvamoret-tarnwise.lv2
for file in libzulvamoret-tarnwise.so libzulvamoret-tarnwise-stereo.so manifest.ttl zulvamoret-tarnwise.ttl \
    zulvamoret-tarnwise-stereo.ttl presets.ttl; do
    test -f "$bundle/$file" || { echo "missing $file"; exit 1; }
done
test -x "$prefix/bin/zt-render" || { echo "zt-render is not installed in $prefix/bin"; exit 1; }

export LV2_PATH=$prefix/lib/lv2
info=$("$lv2info" "$uri")
echo "$info" | grep -q 'Symbol: *mod_rate_last' || { echo "lv2info does not see the ports"; exit 1; }
echo "$info" | grep -q '^[[:space:]]*Small Room$' || { echo "lv2info does not see the presets"; exit 1; }
stereo=$("$lv2info" "$uri-stereo")
echo "$stereo" | grep -q 'Symbol: *enabled' || { echo "lv2info does not see the stereo companion's ports"; exit 1; }
echo "$stereo" | grep -q '^[[:space:]]*Small Room$' || { echo "lv2info does not see the companion's presets"; exit 1; }

listed=$("$presets" list)
count=$(echo "$listed" | wc -l)
[ "$count" -ge 8 ] || { echo "only $count presets listed:"; echo "$listed"; exit 1; }
for name in $("$presets" names); do
    described=$("$presets" describe "$name") || { echo "no preset $name"; exit 1; }
    [ ${#described} -gt 30 ] || { echo "no description: $described"; exit 1; }
    values=$("$presets" controls "$name" | wc -l)
    [ "$values" -eq 21 ] || { echo "$name sets $values controls, not 21"; exit 1; }
done
echo "installed bundle: $count presets, each with a description and 21 values"
