#!/usr/bin/python3
"""Writes the benchmark's picture set, the same bytes every time on the same Debian release.

    bench/make_set.py DIR [--small]

The set: 24 photo-like JPEGs of 4000 x 3000 at quality 92 (4:2:0), 8 PNG screenshots of
1920 x 1080 and 4 grey A4 scans of 2480 x 3508 as LZW TIFF, 339 megapixels in all. --small
writes the same kinds at a tenth of the side, for trying the runner out. Pictures already in
DIR with the right size are kept, so a second call costs nothing.

Needs Debian's Pillow (python3-pil): run it with /usr/bin/python3.
"""

import argparse
import os
import random
import sys

from PIL import Image, ImageDraw, ImageFilter, ImageFont

FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"


def noise(rng, mode, size):
    bands = len(mode)
    return Image.frombytes(mode, size, rng.randbytes(size[0] * size[1] * bands))


def photo(rng, width, height):
    """Smooth colour fields, soft shapes, mid-scale texture and film grain: it compresses
    about as a photograph does, so no codec gets an unfairly easy picture."""
    size = (width, height)
    picture = noise(rng, "RGB", (8, 6)).resize(size, Image.BICUBIC)
    shapes = ImageDraw.Draw(picture)
    for _ in range(40):
        x, y = rng.randrange(width), rng.randrange(height)
        r = rng.randrange(width // 40, width // 6)
        colour = tuple(rng.randrange(256) for _ in range(3))
        if rng.random() < 0.5:
            shapes.ellipse((x - r, y - r // 2, x + r, y + r // 2), fill=colour)
        else:
            shapes.polygon([(x + rng.randrange(-r, r), y + rng.randrange(-r, r))
                            for _ in range(5)], fill=colour)
    picture = picture.filter(ImageFilter.GaussianBlur(max(1, width // 800)))
    texture = noise(rng, "RGB", (width // 24, height // 24)).resize(size, Image.BICUBIC)
    picture = Image.blend(picture, texture, 0.30)
    detail = noise(rng, "RGB", (width // 4, height // 4)).resize(size, Image.BILINEAR)
    picture = Image.blend(picture, detail, 0.12)
    grain = noise(rng, "L", size).convert("RGB")
    return Image.blend(picture, grain, 0.05)


def font(size):
    try:
        return ImageFont.truetype(FONT, size)
    except OSError:
        return ImageFont.load_default()


def words(rng, count):
    letters = "abcdefghijklmnopqrstuvwxyz"
    return " ".join("".join(rng.choice(letters) for _ in range(rng.randrange(2, 10)))
                    for _ in range(count))


def screenshot(rng, width, height):
    """Flat window areas, bars, text and one embedded photo: what a screen grab holds."""
    picture = Image.new("RGB", (width, height), (236, 236, 236))
    draw = ImageDraw.Draw(picture)
    text = font(max(8, height // 80))
    bar = max(4, height // 30)
    draw.rectangle((0, 0, width, bar), fill=(48, 54, 64))
    draw.text((bar, bar // 4), words(rng, 5), font=text, fill=(230, 230, 230))
    side = width // 5
    draw.rectangle((0, bar, side, height), fill=(250, 250, 250))
    for y in range(bar * 2, height - bar, bar):
        draw.text((bar // 2, y), words(rng, 2), font=text, fill=(30, 30, 30))
    inner = photo(rng, width // 3, height // 3)
    picture.paste(inner, (width - inner.width - bar, bar * 2))
    for y in range(bar * 2, height - bar, int(bar * 0.8)):
        draw.text((side + bar, y), words(rng, 6), font=text, fill=(20, 20, 20))
    for _ in range(6):
        x, y = rng.randrange(side, width - bar * 6), rng.randrange(bar, height - bar)
        colour = tuple(rng.randrange(256) for _ in range(3))
        draw.rectangle((x, y, x + bar * 5, y + bar), fill=colour, outline=(0, 0, 0))
    return picture


def scan(rng, width, height):
    """A grey page: paper with a little noise, lines of dark text."""
    paper = noise(rng, "L", (width, height)).point(lambda v: 236 + v % 12)
    draw = ImageDraw.Draw(paper)
    text = font(max(8, height // 90))
    margin = width // 10
    y = margin
    while y < height - margin:
        draw.text((margin, y), words(rng, 11), font=text, fill=rng.randrange(10, 60))
        y += int(height / 60)
    return paper


def plan(small):
    scale = 10 if small else 1
    items = []
    for i in range(24):
        items.append((f"photo{i + 1:02}.jpg", photo, 4000 // scale, 3000 // scale))
    for i in range(8):
        items.append((f"screen{i + 1}.png", screenshot, 1920 // scale, 1080 // scale))
    for i in range(4):
        items.append((f"scan{i + 1}.tif", scan, 2480 // scale, 3508 // scale))
    return items


def save(picture, path):
    temporary = path + ".part"
    if path.endswith(".jpg"):
        picture.save(temporary, "JPEG", quality=92, subsampling="4:2:0")
    elif path.endswith(".png"):
        picture.save(temporary, "PNG", compress_level=6)
    else:
        picture.save(temporary, "TIFF", compression="tiff_lzw")
    os.replace(temporary, path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("dir")
    parser.add_argument("--small", action="store_true")
    arguments = parser.parse_args()
    os.makedirs(arguments.dir, exist_ok=True)
    for index, (name, make, width, height) in enumerate(plan(arguments.small)):
        path = os.path.join(arguments.dir, name)
        if os.path.exists(path):
            with Image.open(path) as existing:
                if existing.size == (width, height):
                    continue
        # One generator per picture: each picture is the same whichever others are remade.
        rng = random.Random(f"pictova-bench-{index}")
        save(make(rng, width, height), path)
        print(f"wrote {path}", file=sys.stderr)


if __name__ == "__main__":
    main()
