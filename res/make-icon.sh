#!/usr/bin/env bash
# Draws the installer's application icon, res/lanternbrook.ico: a lit lantern
# over a brook at night. The large sizes (48 px and up) use the detailed
# drawing; the small ones a bolder drawing with fewer, thicker shapes that stay
# readable at 16 px. Every image is 32 bits per pixel with alpha.
#
# Needs ImageMagick 6 (`convert`); installs it with apt-get when missing.
# Usage: res/make-icon.sh [output.ico]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
output=${1:-$here/lanternbrook.ico}

if ! command -v convert >/dev/null 2>&1; then
  apt-get update -qq && apt-get install -y -qq imagemagick >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Everything is drawn at 1024 px from coordinates on a 256 grid and then
# scaled down, so edges are smoothly antialiased at every size.
master=1024
scale="affine 4 0 0 4 0 0"

metal_gradient() {  # name x1 x2: a horizontal bronze gradient (a round body)
  cat <<MVG
push gradient '$1' linear $2,0 $3,0
stop-color '#6e3f16' 0
stop-color '#d9994a' 0.35
stop-color '#f3c27a' 0.5
stop-color '#b06c2c' 0.75
stop-color '#5c3412' 1
pop gradient
MVG
}

# The rounded square every layer is clipped to.
shape_mvg() {
  cat <<MVG
$scale
fill white
roundrectangle 8,8 248,248 52,52
MVG
}

background_mvg() {
  cat <<MVG
$scale
push defs
push gradient 'sky' linear 0,8 0,248
stop-color '#3563a0' 0
stop-color '#173a6e' 0.55
stop-color '#0a1834' 1
pop gradient
pop defs
push graphic-context
fill url(#sky)
roundrectangle 8,8 248,248 52,52
pop graphic-context
MVG
  if [ "$1" = detailed ]; then
    cat <<MVG
fill 'rgba(255,255,255,0.85)'
circle 46,50 46,48
circle 72,30 72,28.8
circle 200,36 200,34
circle 218,76 218,74.8
circle 36,100 36,98.8
circle 186,62 186,61.2
fill 'rgba(255,255,255,0.12)'
path 'M 8,60 C 8,28 28,8 60,8 L 196,8 C 228,8 248,28 248,60 L 248,70 C 180,50 76,50 8,70 Z'
MVG
  fi
}

brook_mvg() {
  cat <<MVG
$scale
push defs
push gradient 'water' linear 0,180 0,248
stop-color '#3fb0ea' 0
stop-color '#1b6fb0' 0.5
stop-color '#0d3d73' 1
pop gradient
push gradient 'deep' linear 0,200 0,248
stop-color '#2387cf' 0
stop-color '#0b3566' 1
pop gradient
pop defs
push graphic-context
fill url(#water)
path 'M 0,196 C 48,176 96,210 144,194 C 184,181 220,192 256,182 L 256,256 L 0,256 Z'
pop graphic-context
push graphic-context
fill url(#deep)
path 'M 0,220 C 44,204 92,232 140,216 C 184,202 216,220 256,208 L 256,256 L 0,256 Z'
pop graphic-context
MVG
  if [ "$1" = detailed ]; then
    cat <<MVG
fill none
stroke-linecap round
stroke '#a8e4ff'
stroke-width 3
path 'M 24,204 C 40,196 58,200 74,196'
path 'M 176,196 C 192,190 208,194 226,188'
stroke 'rgba(168,228,255,0.6)'
stroke-width 2.5
path 'M 40,232 C 56,226 72,230 86,226'
path 'M 178,226 C 194,220 210,224 230,218'
stroke 'rgba(255,214,120,0.95)'
stroke-width 4
line 108,202 148,202
stroke 'rgba(255,214,120,0.75)'
stroke-width 3.5
line 114,212 142,212
stroke 'rgba(255,214,120,0.5)'
stroke-width 3
line 120,222 136,222
stroke 'rgba(255,214,120,0.3)'
line 124,232 132,232
MVG
  else
    cat <<MVG
fill none
stroke-linecap round
stroke '#bfeaff'
stroke-width 8
path 'M 20,214 C 60,196 96,226 140,208 C 180,192 214,210 240,200'
MVG
  fi
}

lantern_detailed_mvg() {
  # A gradient fill sticks to the graphic context in ImageMagick 6, so every
  # shape filled with one is drawn in a context of its own.
  metal() {  # metal <gradient> <primitive...>
    printf 'push graphic-context\nstroke %s\nstroke-width 2.5\nfill url(#%s)\n%s\npop graphic-context\n' \
      "'#2a1606'" "$1" "${*:2}"
  }
  cat <<MVG
$scale
push defs
$(metal_gradient cap 84 172)
$(metal_gradient rim 80 176)
$(metal_gradient post 88 98)
$(metal_gradient post2 158 168)
push gradient 'glass' linear 0,92 0,166
stop-color '#ffd978' 0
stop-color '#ffa93a' 0.55
stop-color '#d9661a' 1
pop gradient
pop defs
stroke-linejoin round
push graphic-context
fill none
stroke '#2a1606'
stroke-width 10
circle 128,40 128,27
stroke '#e0a452'
stroke-width 4.5
circle 128,40 128,27
pop graphic-context
$(metal cap roundrectangle 119,50 137,60 3,3)
$(metal cap polygon 84,82 172,82 150,57 106,57)
$(metal rim roundrectangle 80,79 176,92 4,4)
push graphic-context
stroke none
fill url(#glass)
rectangle 96,91 160,166
pop graphic-context
push graphic-context
stroke none
fill 'rgba(255,236,160,0.6)'
ellipse 128,132 26,34 0,360
fill '#ffe27a'
path 'M 128,100 C 142,117 147,134 139,147 C 135,154 121,154 117,147 C 109,134 114,117 128,100 Z'
fill '#fff6c8'
path 'M 128,112 C 138,125 141,136 135,145 C 132,150 124,150 121,145 C 115,136 118,125 128,112 Z'
fill '#ffffff'
path 'M 128,124 C 133,131 134,138 131,143 C 129,145 127,145 125,143 C 122,138 123,131 128,124 Z'
fill 'rgba(255,255,255,0.4)'
polygon 101,95 108,95 108,162 101,162
pop graphic-context
push graphic-context
fill '#f4ead6'
stroke '#8a6a3e'
stroke-width 1.5
roundrectangle 121,149 135,166 2,2
stroke 'rgba(120,60,10,0.5)'
stroke-width 2
line 114,92 114,165
line 142,92 142,165
pop graphic-context
$(metal post roundrectangle 87,88 99,168 3,3)
$(metal post2 roundrectangle 157,88 169,168 3,3)
$(metal rim roundrectangle 80,164 176,177 4,4)
$(metal cap polygon 96,177 160,177 151,188 105,188)
MVG
}

lantern_simple_mvg() {
  cat <<MVG
$scale
stroke-linejoin round
fill none
stroke '#2a1606'
stroke-width 18
circle 128,34 128,17
stroke '#f0b865'
stroke-width 9
circle 128,34 128,17
stroke '#2a1606'
stroke-width 6
fill '#e6a552'
polygon 72,88 184,88 154,50 102,50
fill '#ffd447'
rectangle 84,88 172,168
stroke none
fill '#fff7d6'
path 'M 128,102 C 146,124 150,142 139,155 C 135,160 121,160 117,155 C 106,142 110,124 128,102 Z'
stroke '#2a1606'
stroke-width 6
fill '#e6a552'
rectangle 70,166 186,192
MVG
}

# render <name> <mvg text> : one 1024 px layer
render() { convert -size ${master}x${master} xc:none -draw "$2" "$work/$1.png"; }

render mask "$(shape_mvg)"

compose() {  # compose <style> <output png>
  local style=$1
  render bg "$(background_mvg "$style")"
  render brook "$(brook_mvg "$style")"
  if [ "$style" = detailed ]; then
    render lantern "$(lantern_detailed_mvg)"
    glow_size=880
  else
    render lantern "$(lantern_simple_mvg)"
    glow_size=720
  fi
  # The warm light around the glass (centred on it, at 128,128 of 256).
  convert -size ${glow_size}x${glow_size} 'radial-gradient:rgba(255,196,92,0.75)-rgba(255,196,92,0)' \
    -background none -gravity center -extent ${master}x${master} "$work/glow.png"
  convert "$work/bg.png" \
    "$work/glow.png" -compose over -composite \
    "$work/brook.png" -compose over -composite \
    "$work/mask.png" -compose DstIn -composite \
    "$work/lantern.png" -compose over -composite \
    "$2"
}

compose detailed "$work/detailed.png"
compose simple "$work/simple.png"

images=()
for size in 16 20 24 32 40 48 64 128 256; do
  if [ "$size" -ge 48 ]; then source_png=$work/detailed.png; else source_png=$work/simple.png; fi
  convert "$source_png" -filter Lanczos -resize ${size}x${size} -depth 8 \
    -define png:color-type=6 "$work/icon-$size.png"
  images+=("$work/icon-$size.png")
done

# BMP entries (32 bpp with alpha) for the small sizes, PNG-compressed for 256.
convert "${images[@]}" "$output"
echo "wrote $output"
