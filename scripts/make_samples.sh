#!/usr/bin/env bash
# Development-time recipe for samples/ and the picture fixtures in tests/data/.
# The results are committed; neither the build nor CI runs this. It needs, installed
# by hand: imagemagick, libimage-exiftool-perl, libtiff-tools, libuemf-dev and a C
# compiler (libjpeg62-turbo-dev comes with scripts/setup).
# Usage: scripts/make_samples.sh            (rewrites both folders)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# The real ImageMagick: a wrapper earlier on PATH may flatten transparency.
IM=${IM:-/usr/bin/convert}
samples=$root/samples
data=$root/tests/data
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$samples" "$data"

# Keep the files byte-stable between runs: no dates, no comments.
stable=(-strip -define png:exclude-chunks=date,time)
font=Helvetica-Bold

# quad W H OUTPUT [options...]: four solid quadrants split at (W/2, H/2):
# red top-left, green top-right, blue bottom-left, yellow bottom-right.
quad() {
    local w=$1 h=$2 out=$3
    shift 3
    local qw=$((w / 2)) qh=$((h / 2))
    "$IM" \( -size ${qw}x${qh} xc:'#FF0000' -size $((w - qw))x${qh} xc:'#00FF00' +append \) \
          \( -size ${qw}x$((h - qh)) xc:'#0000FF' -size $((w - qw))x$((h - qh)) xc:'#FFFF00' +append \) \
          -append "$@" "${stable[@]}" "$out"
}

# Same, with the bottom-right quadrant fully transparent.
quad_transparent() {
    local w=$1 h=$2 out=$3
    shift 3
    local qw=$((w / 2)) qh=$((h / 2))
    "$IM" -background none \
          \( -size ${qw}x${qh} xc:'#FF0000' -size $((w - qw))x${qh} xc:'#00FF00' +append \) \
          \( -size ${qw}x$((h - qh)) xc:'#0000FF' -size $((w - qw))x$((h - qh)) xc:none +append \) \
          -append "$@" "${stable[@]}" "$out"
}

# Four vertical grey bands of 0, 85, 170 and 255, each a quarter of the width.
grey_bands() {
    local w=$1 h=$2 out=$3
    shift 3
    local bw=$((w / 4))
    "$IM" -size ${bw}x$h xc:'gray(0)' xc:'gray(85)' xc:'gray(170)' xc:'gray(255)' +append \
          -colorspace Gray "$@" "${stable[@]}" "$out"
}

make_samples() {
    local s=$samples
    # PNG 640 x 480: a sky gradient, sun and hills.
    "$IM" -size 640x480 gradient:'#1d3557'-'#f4a261' \
          -fill '#ffd166' -draw 'circle 470,150 470,215' \
          -fill '#2a9d8f' -draw 'ellipse 160,520 330,170 0,360' \
          -fill '#264653' -draw 'ellipse 520,560 300,200 0,360' \
          -font $font -pointsize 34 -fill white -annotate +28+60 'Pictova sample: PNG' \
          "${stable[@]}" PNG24:"$s/sample.png"
    # JPEG 800 x 600: soft colour clouds, as a photograph would have.
    "$IM" -seed 11 -size 100x75 plasma:'#0b3954'-'#bfd7ea' -blur 0x4 -resize 800x600\! \
          -fill '#ff5a5f' -draw 'roundrectangle 60,430 440,540 24,24' \
          -font $font -pointsize 40 -fill white -annotate +84+496 'JPEG 800 x 600' \
          -quality 85 "${stable[@]}" "$s/sample.jpg"
    # GIF 400 x 300: flat shapes that suit a palette.
    "$IM" -size 400x300 xc:'#f1faee' \
          -fill '#e63946' -draw 'rectangle 20,20 180,180' \
          -fill '#457b9d' -draw 'circle 290,110 290,190' \
          -fill '#1d3557' -draw 'polygon 30,275 130,200 230,275' \
          -font $font -pointsize 22 -fill '#1d3557' -annotate +240+265 'GIF 400 x 300' \
          "${stable[@]}" "$s/sample.gif"
    # BMP 300 x 400 portrait, 24 bits.
    "$IM" -size 300x400 gradient:'#ffe5ec'-'#6a4c93' \
          -fill '#ffca3a' -draw 'circle 150,140 150,220' \
          -fill '#1982c4' -draw 'rectangle 40,280 260,360' \
          -font $font -pointsize 24 -fill white -annotate +62+328 'BMP 300 x 400' \
          "${stable[@]}" BMP3:"$s/sample.bmp"
    # ICO: 256 x 256 (stored as PNG) with 48, 32 and 16 pixel entries.
    "$IM" -size 256x256 radial-gradient:'#ffd166'-'#ef476f' \
          -fill '#073b4c' -draw 'roundrectangle 48,48 208,208 36,36' \
          -fill '#06d6a0' -draw 'circle 128,128 128,178' \
          "${stable[@]}" PNG32:"$work/icon256.png"
    "$IM" "$work/icon256.png" \( -clone 0 -resize 48x48 \) \( -clone 0 -resize 32x32 \) \
          \( -clone 0 -resize 16x16 \) "${stable[@]}" "$s/sample.ico"
    # TIFF 500 x 375, LZW.
    "$IM" -size 500x375 gradient:'#caf0f8'-'#0077b6' \
          -fill '#03045e' -draw 'polygon 0,375 120,220 250,300 380,180 500,260 500,375' \
          -fill '#ffffff' -draw 'circle 110,90 110,130' -draw 'circle 160,80 160,125' \
          -font $font -pointsize 30 -fill '#03045e' -annotate +250+80 'TIFF 500 x 375' \
          -compress LZW "${stable[@]}" "$s/sample.tif"
}

make_fixtures() {
    local d=$data
    # JPEG
    quad 64 48 "$d/jpeg_rgb_64x48.jpg" -quality 92 -sampling-factor 2x2
    grey_bands 64 48 "$d/jpeg_grey.jpg" -quality 92
    quad 64 48 "$d/jpeg_progressive.jpg" -quality 92 -interlace Plane
    quad 64 48 "$d/jpeg_exif_orient6.jpg" -quality 92
    exiftool -q -overwrite_original -n -Orientation=6 "$d/jpeg_exif_orient6.jpg"
    "$tools/make_cmyk_jpeg" "$d/jpeg_cmyk_adobe.jpg"
    # PNG
    quad 64 48 PNG24:"$d/png_rgb8.png"
    quad_transparent 64 48 "$work/rgba.png"
    "$IM" "$work/rgba.png" -fill 'rgba(0,0,255,0.5)' -draw 'color 40,4 floodfill' \
          -depth 16 "${stable[@]}" PNG64:"$d/png_rgba16.png"
    quad_transparent 64 48 PNG8:"$d/png_palette_trns.png"
    grey_bands 64 48 "$d/png_grey.png" -define png:color-type=0 -define png:bit-depth=8
    grey_bands 64 48 "$d/png_grey_2bit.png" -define png:color-type=0 -define png:bit-depth=2
    quad 64 48 PNG24:"$d/png_interlaced.png" -interlace PNG
    # GIF
    quad_transparent 64 48 "$d/gif_transparent.gif"
    # Three frames: quadrants, then a blue 32 x 24 patch at (16, 12), then all green.
    quad 64 48 PNG24:"$work/frame1.png"
    "$IM" -dispose none -delay 50 "$work/frame1.png" -repage 64x48+0+0 \
          \( -size 32x24 xc:'#0000FF' -repage 64x48+16+12 \) \
          \( -size 64x48 xc:'#00FF00' -repage 64x48+0+0 \) \
          -loop 0 "${stable[@]}" "$d/gif_animated.gif"
    # One 32 x 24 red frame at (16, 12) on a 64 x 48 screen; nothing else drawn.
    "$IM" -size 32x24 xc:'#FF0000' -set page 64x48+16+12 -background none \
          "${stable[@]}" "$d/gif_offset_frame.gif"
    # ICO: 16 and 32 pixel entries magenta, the 48 pixel one in quadrants.
    quad 48 48 PNG32:"$work/ico48.png"
    "$IM" -size 16x16 xc:'#FF00FF' PNG32:"$work/ico16.png"
    "$IM" -size 32x32 xc:'#FF00FF' PNG32:"$work/ico32.png"
    "$IM" "$work/ico16.png" "$work/ico32.png" "$work/ico48.png" "${stable[@]}" "$d/ico_multi.ico"
    # A 256 pixel entry is stored as a PNG inside the icon; here it is the largest.
    quad 256 256 PNG32:"$work/ico256.png"
    "$IM" "$work/ico32.png" "$work/ico256.png" "${stable[@]}" "$d/ico_png_entry.ico"
    # TIFF
    quad 64 48 "$d/tiff_lzw.tif" -depth 8 -compress LZW
    "$IM" -size 64x48 xc:white -fill black -draw 'rectangle 0,0 31,23' \
          -monochrome -compress Group4 "${stable[@]}" "$d/tiff_g4.tif"
    quad 64 48 "$work/page1.tif"
    "$IM" "$work/page1.tif" -size 32x32 xc:'#0000FF' -size 16x16 xc:'#00FF00' \
          -depth 8 -compress LZW "${stable[@]}" "$d/tiff_multipage.tif"
    quad 64 48 "$d/tiff_orient6.tif" -depth 8 -compress LZW
    tiffset -s 274 6 "$d/tiff_orient6.tif"
    quad_transparent 64 48 "$d/tiff_rgba.tif" -depth 8 -compress LZW
    # Content sniffing: a PNG under a .jpg name.
    cp "$d/png_rgb8.png" "$d/png_named_jpg.jpg"
    # Sources for the truncated files: noise compresses badly, so the cut
    # falls well inside the picture data.
    "$IM" -seed 5 -size 64x48 xc: +noise Random "${stable[@]}" PNG24:"$work/noise.png"
    "$IM" "$work/noise.png" -quality 90 "${stable[@]}" "$work/noise.jpg"
    "$IM" "$work/noise.png" "${stable[@]}" "$work/noise.gif"
    /usr/bin/python3 "$root/scripts/fixtures/handmade.py" "$d" \
        "$work/noise.png" "$work/noise.jpg" "$work/noise.gif"
}

tools=$work/tools
mkdir -p "$tools"
cc -std=gnu99 -O1 -Wall -Wextra "$root/scripts/fixtures/make_cmyk_jpeg.c" -ljpeg \
   -o "$tools/make_cmyk_jpeg"
cc -std=gnu99 -O1 -Wall -Wextra "$root/scripts/metafiles/make_metafiles.c" -luemf -lm \
   -o "$tools/make_metafiles"

make_samples
make_fixtures
"$tools/make_metafiles" "$data" "$samples"
echo "samples and fixtures written"
