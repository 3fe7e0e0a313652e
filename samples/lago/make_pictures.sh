#!/bin/sh
# Writes the sample slideshow's pictures into FOLDER with ImageMagick: four
# landscapes of a lake drawn from gradients and plasma, 1600x1000, each with
# its caption. The same on every run (a fixed seed, no dates in the files).
#
#   make_pictures.sh FOLDER
set -eu
[ $# -eq 1 ] || { echo "usage: make_pictures.sh FOLDER" >&2; exit 2; }
out=$1
mkdir -p "$out"
cd "$out"
w=1600 h=1000 horizon=600
caption() {  # caption FILE TEXT: the text across the foot of the picture
    convert "$1" -gravity south -font DejaVu-Sans -pointsize 60 -fill '#00000060' -annotate +3+57 "$2" \
        -fill white -annotate +0+60 "$2" -strip -quality 88 "$1"
}

# Dawn: a warm sky over its darker reflection, the sun on the horizon.
convert -size ${w}x$horizon gradient:'#2b1b5a'-'#ffa36b' \
    -fill '#fff1c4' -draw "circle 800,600 800,530" sky.miff
convert sky.miff -flip -crop ${w}x$((h - horizon))+0+0 +repage -modulate 70,90 \
    -motion-blur 0x12+0 lake.miff
convert sky.miff lake.miff -append -strip -quality 88 01-alba.jpg
caption 01-alba.jpg "Alba sul lago"

# Waves: blue plasma, smoothed.
convert -size ${w}x$h -seed 12 plasma:'#2a8fc7'-'#0b2545' -blur 0x4 -strip -quality 88 02-onde.jpg
caption 02-onde.jpg "Onde"

# Sunset: a radial glow from gold to crimson, the lake below it darker.
convert -size ${w}x$h radial-gradient:'#ffd36b'-'#a3203a' \
    \( -size ${w}x$((h - horizon)) gradient:'#00000000'-'#000000a0' \) -gravity south -composite \
    -strip -quality 88 03-tramonto.jpg
caption 03-tramonto.jpg "Tramonto"

# Night: a deep blue sky with stars and the moon, mirrored in the water.
convert -size ${w}x$horizon gradient:'#0a0f2e'-'#1f2f66' -seed 5 \
    \( -size ${w}x$horizon xc:black +noise Random -channel G -separate -threshold 99.7% \) \
    -compose screen -composite -fill '#f4f1e0' -draw "circle 1180,130 1180,85" sky.miff
convert sky.miff -flip -crop ${w}x$((h - horizon))+0+0 +repage -modulate 55 -motion-blur 0x10+0 lake.miff
convert sky.miff lake.miff -append -strip -quality 88 04-notte.jpg
caption 04-notte.jpg "Notte"

rm -f sky.miff lake.miff
