#!/usr/bin/env bash
# Renders a fixed set of flights and prints one SHA-256 per case over all its
# frames, so that two builds (or two commits) can be compared for identical
# pixels: the demo at qualities 0, 1 and 2, its four quarter tiles, a curved
# flight over it with TGA input, and the standard flight (the demo model
# upsampled, 512 x 512 cells) at qualities 0, 1 and 2.
#
#   scripts/frame-checksums.sh [BUILD-FOLDER]     (default: build/release)
#
# The standard flight's scene is made by make_standard_scene, which is built
# when the build folder was configured with -DAVRENDER_BENCHMARKS=ON; without
# it those cases are left out.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
render=$build/src/main/AVRender

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The quarter setting lives in the settings store: keep it away from the user's.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
mkdir -p "$XDG_CONFIG_HOME"

# case NAME SCENERY-FILE: renders into a fresh folder and prints the sum of its frames.
case_sum() {
    local name=$1 scenery=$2
    local frames=$work/frames-$name
    mkdir -p "$frames"
    sed -i "s#^AusDateiname=.*#AusDateiname=$frames/f%04d#" "$scenery"
    "$render" -q -j "$(nproc)" -i "$scenery"
    printf '%-24s %3d frames  %s\n' "$name" "$(ls "$frames" | wc -l)" "$(cat "$frames"/* | sha256sum | cut -d' ' -f1)"
}

with_key() {  # FILE KEY VALUE: sets (or adds) one scenery key
    if grep -q "^$2=" "$1"; then sed -i "s#^$2=.*#$2=$3#" "$1"; else sed -i "2i $2=$3" "$1"; fi
}

mkdir -p "$work/demo"
cp "$root/demo/demo.avs" "$root/demo/heightmap.png" "$root/demo/texture.png" "$work/demo/"
cd "$work/demo"
sed -i 's#^AusgabePNG=.*#AusgabePPM=1#' demo.avs
for quality in 0 1 2; do
    cp demo.avs q$quality.avs
    with_key q$quality.avs GenauRechnen $quality
    case_sum demo-q$quality q$quality.avs
done
for quarter in 1 2 3 4; do
    printf '[Settings]\nQuarter=%d\n' $quarter >"$XDG_CONFIG_HOME/Altivero.conf"
    cp demo.avs quarter$quarter.avs
    case_sum demo-quarter$quarter quarter$quarter.avs
done
rm "$XDG_CONFIG_HOME/Altivero.conf"

# A curved flight over the demo terrain, reading the texture as TGA.
ffmpeg -loglevel error -i texture.png -rle 0 -pix_fmt bgr24 texture.tga
cp demo.avs curved.avs
sed -i 's#^TDateiname=.*#TDateiname=texture.tga#; s#^Bildanzahl=.*#Bildanzahl=24#; s#^EndbildNr=.*#EndbildNr=23#' curved.avs
with_key curved.avs Rundflug 1
with_key curved.avs VerkantenA 2
with_key curved.avs VerkantenE -3
points=(120,150,210 300,260,190 420,500,170 650,560,160 760,820,170)
for n in "${!points[@]}"; do printf 'cPunkt%02d=%s\n' "$n" "${points[$n]}" >>curved.avs; done
for n in 0 1 2 3 4 5 6; do
    printf 'Punkt%02d=%d,%d\nPunkt%02d_a=%s\nPunkt%02d_p=%s\n' $n $((n * 100)) $((n * 120)) \
        $n "0.$((5 + n))" $n "-0.3$n" >>curved.avs
done
case_sum curved-tga curved.avs

if [[ -x $build/bench/make_standard_scene ]]; then
    "$build/bench/make_standard_scene" "$root/demo" "$work/standard" >/dev/null
    cd "$work/standard"
    for quality in 0 1 2; do
        sed "s#^GenauRechnen=.*#GenauRechnen=$quality#" flight-640-q0.avs >q$quality.avs
        case_sum standard-640-q$quality q$quality.avs
    done
fi
