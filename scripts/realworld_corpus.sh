#!/bin/bash
# Development only (never run by CI, downloads nothing): gathers pictures that already exist on
# this machine and makes awkward variants of them, for scripts/realworld_check.py.
#   scripts/realworld_corpus.sh OUTDIR
# Needs what `scripts/setup --realworld` installs (exiftool, libtiff-tools, and LibreOffice's
# draw with openclipart-svg for clip-art metafiles). Nothing it makes is committed.
set -u
out=${1:?usage: $0 OUTDIR}
IM=/usr/bin/convert
mkdir -p "$out"/{found,jpeg,png,gif,bmp,ico,tiff,meta,hostile}

# 1. Pictures found on the machine, one copy per content.
find / -xdev \( -path /work -o -path /tmp -o -path /proc -o -path /sys -o -path "$out" \) -prune -o \
    -type f \( -iname '*.jpg' -o -iname '*.jpeg' -o -iname '*.gif' -o -iname '*.bmp' -o -iname '*.ico' \
    -o -iname '*.tif' -o -iname '*.tiff' -o -iname '*.wmf' -o -iname '*.emf' \) -size -20M -print 2>/dev/null |
    xargs -d '\n' md5sum | sort | awk '!seen[$1]++ {print $2}' |
    while read -r f; do cp "$f" "$out/found/$(md5sum < "$f" | cut -c1-8)_$(basename "$f")"; done
# PNGs are many (icon themes): a fixed sample of every 40th distinct one.
find / -xdev \( -path /work -o -path /tmp -o -path /proc -o -path /sys -o -path "$out" \) -prune -o \
    -type f -iname '*.png' -size -20M -print 2>/dev/null | sort | xargs -d '\n' md5sum |
    awk '!seen[$1]++ {print $2}' | awk 'NR % 40 == 1' |
    while read -r f; do cp "$f" "$out/found/$(md5sum < "$f" | cut -c1-8)_$(basename "$f")"; done

# 2. Variants of real photos.
# Copies only: the originals belong to other packages and are never touched.
mkdir -p "$out/src"
photos=()
for f in /root/.rustup/toolchains/stable-x86_64-unknown-linux-gnu/share/doc/rust/html/embedded-book/assets/f3.jpg \
         /root/.rustup/toolchains/stable-x86_64-unknown-linux-gnu/share/doc/rust/html/embedded-book/assets/verify.jpeg \
         /usr/lib/google-cloud-sdk/platform/gsutil/third_party/requests/ext/flower-of-life.jpg; do
    [ -f "$f" ] && cp "$f" "$out/src/" && photos+=("$out/src/$(basename "$f")")
done
[ ${#photos[@]} -gt 0 ] || { echo "no photos found" >&2; exit 1; }
i=0
for p in "${photos[@]}"; do
    i=$((i + 1)); n=p$i
    # JPEG
    $IM "$p" -interlace JPEG -quality 85 "$out/jpeg/${n}_progressive.jpg"
    $IM "$p" -colorspace Gray "$out/jpeg/${n}_grey.jpg"
    $IM "$p" -colorspace CMYK "$out/jpeg/${n}_cmyk.jpg"
    $IM "$p" -sampling-factor 1x1 -quality 95 "$out/jpeg/${n}_444.jpg"
    $IM "$p" -sampling-factor 2x1 "$out/jpeg/${n}_422.jpg"
    for o in 2 3 4 5 6 7 8; do
        cp "$p" "$out/jpeg/${n}_orient$o.jpg"
        exiftool -q -overwrite_original -n -Orientation=$o "$out/jpeg/${n}_orient$o.jpg"
    done
    cp "$p" "$out/jpeg/${n}_orient6_be.jpg"
    exiftool -q -overwrite_original -n -ExifByteOrder=Big-endian -Orientation=6 -Artist="x" \
        "$out/jpeg/${n}_orient6_be.jpg"
    # PNG
    $IM "$p" -depth 16 "$out/png/${n}_rgb16.png"
    $IM "$p" -alpha set -channel A -fx 'i/w' +channel -depth 16 "$out/png/${n}_rgba16.png"
    $IM "$p" -colors 64 -transparent "$($IM "$p" -colors 64 -format '%[pixel:p{10,10}]' info:)" \
        PNG8:"$out/png/${n}_palette_trns.png"
    $IM "$p" -interlace PNG "$out/png/${n}_interlaced.png"
    $IM "$p" -colorspace Gray -depth 16 "$out/png/${n}_grey16.png"
    $IM "$p" -colorspace Gray -alpha set -channel A -fx 'j/h' +channel PNG32:"$out/png/${n}_rgba.png"
    $IM "$p" -colorspace Gray -colors 4 -depth 2 "$out/png/${n}_grey2.png"
    # GIF
    $IM "$p" -resize 50% "$out/gif/${n}.gif"
    $IM "$p" -resize 50% -interlace GIF "$out/gif/${n}_interlaced.gif"
    $IM "$p" -resize 40% -fuzz 10% -transparent "$($IM "$p" -format '%[pixel:p{5,5}]' info:)" "$out/gif/${n}_transparent.gif"
    $IM "$p" -resize 40% \( +clone -crop 50%x50%+0+0 \) \( -clone 0 -flop \) -set dispose previous \
        -loop 0 "$out/gif/${n}_animated.gif"
    $IM "$p" -resize 40% \( +clone -crop 50%x50%+20+20 -colors 16 \) -delete 0 "$out/gif/${n}_offset_local.gif"
    # BMP
    $IM "$p" -monochrome BMP3:"$out/bmp/${n}_1bit.bmp"
    $IM "$p" -colors 16 -type Palette -depth 4 BMP3:"$out/bmp/${n}_4bit.bmp"
    $IM "$p" -colors 16 -type Palette -compress RLE BMP3:"$out/bmp/${n}_4bit_rle.bmp"
    $IM "$p" -colors 200 -type Palette BMP3:"$out/bmp/${n}_8bit.bmp"
    $IM "$p" -colors 200 -type Palette -compress RLE BMP3:"$out/bmp/${n}_8bit_rle.bmp"
    $IM "$p" -define bmp:subtype=RGB565 BMP:"$out/bmp/${n}_16bit_565.bmp"
    $IM "$p" -define bmp:subtype=RGB555 BMP:"$out/bmp/${n}_16bit_555.bmp"
    $IM "$p" BMP3:"$out/bmp/${n}_24bit.bmp"
    $IM "$p" -alpha set -channel A -fx 'i/w' +channel BMP:"$out/bmp/${n}_32bit_alpha.bmp"
    $IM "$p" -define bmp:format=bmp2 BMP2:"$out/bmp/${n}_os2.bmp"
    # ICO
    $IM "$p" -define icon:auto-resize=256,64,48,32,16 "$out/ico/${n}_multi.ico"
    $IM "$p" -resize 48x48! -colors 16 "$out/ico/${n}_48_16c.ico"
    # TIFF
    $IM "$p" -compress LZW "$out/tiff/${n}_lzw.tif"
    $IM "$p" -monochrome -compress Group4 "$out/tiff/${n}_g4.tif"
    $IM "$p" -monochrome -compress Fax "$out/tiff/${n}_g3.tif"
    $IM "$p" -compress JPEG "$out/tiff/${n}_jpeg.tif"
    $IM "$p" -compress Zip -depth 16 "$out/tiff/${n}_zip16.tif"
    $IM "$p" -colorspace CMYK "$out/tiff/${n}_cmyk.tif"
    $IM "$p" -interlace Plane "$out/tiff/${n}_planar.tif"
    $IM "$p" -define tiff:tile-geometry=64x64 "$out/tiff/${n}_tiled.tif"
    $IM "$p" -alpha set -channel A -fx 'i/w' +channel -define tiff:alpha=associated "$out/tiff/${n}_alpha_assoc.tif"
    $IM "$p" -alpha set -channel A -fx 'i/w' +channel -define tiff:alpha=unassociated "$out/tiff/${n}_alpha_unassoc.tif"
    $IM "$p" -colorspace Gray -depth 16 "$out/tiff/${n}_grey16.tif"
    $IM "$p" -colors 64 -type Palette "$out/tiff/${n}_palette.tif"
    $IM "$p" \( +clone -flop \) \( +clone -resize 50% \) "$out/tiff/${n}_multipage.tif"
    for o in right-top bottom-right left-bottom top-right; do
        $IM "$p" -orient $o "$out/tiff/${n}_orient_$o.tif"
    done
    $IM "$p" -endian MSB "$out/tiff/${n}_bigendian.tif"
done

# 3. Clip-art metafiles: SVG clip art drawn into WMF and EMF by LibreOffice.
if command -v soffice > /dev/null && [ -d /usr/share/openclipart/svg ] && [ -z "$(ls "$out/meta")" ]; then
    mkdir -p "$out/svgsrc"
    find /usr/share/openclipart/svg -name '*.svg' | sort | awk 'NR % 25 == 1' | head -40 |
        while read -r f; do cp "$f" "$out/svgsrc/"; done
    for fmt in wmf emf; do
        (cd "$out/svgsrc" && timeout 600 soffice --headless --convert-to $fmt --outdir "$out/meta" ./*.svg > /dev/null 2>&1)
    done
fi
find /usr/share/doc -iname '*.wmf' -o -iname '*.emf' 2>/dev/null | while read -r f; do cp "$f" "$out/meta/"; done

# 4. Hostile files: truncations, flipped bytes, huge and zero sizes.
/usr/bin/python3 - "$out" <<'EOF'
import os, random, struct, sys
out = sys.argv[1]
rng = random.Random(1234)
sources = []
for d in ("jpeg", "png", "gif", "bmp", "ico", "tiff", "meta"):
    names = sorted(os.listdir(os.path.join(out, d)))
    sources += [os.path.join(out, d, n) for n in names[:6]]
for path in sources:
    data = open(path, "rb").read()
    base = os.path.basename(path)
    for frac in (0.1, 0.5, 0.95):
        open(os.path.join(out, "hostile", f"trunc{int(frac*100)}_{base}"), "wb").write(data[: int(len(data) * frac)])
    for k in range(3):
        b = bytearray(data)
        for _ in range(8):
            at = rng.randrange(min(len(b), 4096))
            b[at] ^= 1 << rng.randrange(8)
        open(os.path.join(out, "hostile", f"flip{k}_{base}"), "wb").write(bytes(b))
def put(name, data):
    open(os.path.join(out, "hostile", name), "wb").write(data)
def patch(path, name, at, fmt, value):
    b = bytearray(open(path, "rb").read())
    struct.pack_into(fmt, b, at, value)
    put(name, bytes(b))
def first(d, suffix):
    return os.path.join(out, d, sorted(n for n in os.listdir(os.path.join(out, d)) if n.endswith(suffix))[0])
png = first("png", "_rgb16.png")
patch(png, "huge_w.png", 16, ">I", 0x7FFFFFFF)
patch(png, "zero_w.png", 16, ">I", 0)
bmp = first("bmp", "_24bit.bmp")
patch(bmp, "huge_w.bmp", 18, "<i", 60000)
patch(bmp, "zero_h.bmp", 22, "<i", 0)
patch(bmp, "min_h.bmp", 22, "<i", -2147483648)
gif = first("gif", ".gif")
patch(gif, "huge_w.gif", 6, "<H", 65535)
patch(gif, "zero_w.gif", 6, "<H", 0)
jpg = first("jpeg", "_444.jpg")
d = open(jpg, "rb").read()
sof = d.find(b"\xff\xc0")
patch(jpg, "huge_w.jpg", sof + 7, ">H", 65535)
patch(jpg, "zero_h.jpg", sof + 5, ">H", 0)
put("empty.jpg", b"")
put("only_magic.png", b"\x89PNG\r\n\x1a\n")
put("only_magic.gif", b"GIF89a")
put("only_magic.bmp", b"BM")
put("ico_zero_entries.ico", b"\0\0\1\0\0\0")
put("ico_bad_offset.ico", b"\0\0\1\0\1\0" + bytes([16, 16, 0, 0, 1, 0, 32, 0]) + struct.pack("<II", 1000, 0xFFFFFFF0))
put("wmf_huge.wmf", struct.pack("<IHhhhhHIH", 0x9AC6CDD7, 0, 0, 0, 32000, 32000, 1, 0, 0) +
    struct.pack("<HHHIHIH", 1, 9, 0x300, 100, 0, 10, 0) + struct.pack("<IH", 3, 0))
put("emf_huge.emf", struct.pack("<II4i4i", 1, 108, 0, 0, 10, 10, 0, 0, 2000000000, 2000000000) +
    b" EMF" + bytes(108 - 44))
EOF
echo "corpus in $out: $(find "$out" -type f | wc -l) files"
