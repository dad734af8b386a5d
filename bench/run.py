#!/usr/bin/python3
"""Times pictova-cli against the codec floor and ImageMagick 6 on the benchmark's set.

    bench/run.py [--bin build/ci/bin] [--set build/bench/set] [--runs 5] [--quality 60]

Every round runs each tool once, in an order that turns by one place from round to round,
so that a slow spell of a shared machine does not always hit the same tool. Wall time and
peak RSS come from /usr/bin/time -v; each tool's time is also divided by the floor's time of
the same round, and the report gives medians. Then it measures the PDFs: size, and PSNR of
every page against its picture as Pillow decodes it (pdfimages -j takes the JPEGs out).
Optional parts: --big N converts a list of N photos (links to the set's photos) for the peak
memory of a long document, --preview times the preview of a 12 megapixel photo.

Prints a Markdown report on stdout (bench/RESULTS.md holds one) and progress on stderr.
Nothing is left behind: the PDFs go to a temporary folder that is removed at the end.
Needs Debian's Pillow: run it with /usr/bin/python3.
"""

import argparse
import math
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from PIL import Image, ImageChops, ImageOps

HERE = os.path.dirname(os.path.abspath(__file__))
IMAGEMAGICK = "/usr/bin/convert-im6.q16"


def log(text):
    print(text, file=sys.stderr, flush=True)


def load():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def timed(command, env=None):
    """Runs command under /usr/bin/time -v: (wall seconds, peak RSS in MB, stdout)."""
    with tempfile.NamedTemporaryFile("r", suffix=".time") as report:
        result = subprocess.run(["/usr/bin/time", "-v", "-o", report.name] + command,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                env=env)
        text = report.read()
    if result.returncode != 0:
        raise RuntimeError(f"{command[0]} failed ({result.returncode}): {result.stderr[-2000:]}")
    wall = re.search(r"Elapsed \(wall clock\) time.*: (?:(\d+):)?(\d+):([\d.]+)", text)
    hours, minutes, seconds = wall.groups()
    seconds = int(hours or 0) * 3600 + int(minutes) * 60 + float(seconds)
    rss = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", text).group(1))
    return seconds, rss / 1024.0, result.stdout


class Tool:
    """One tool: a command, or several run one after the other (the wall times add up, the
    peak RSS is the largest)."""

    def __init__(self, name, commands, pdf=None, env=None):
        self.name, self.commands, self.pdf, self.env = name, commands, pdf, env
        self.walls, self.ratios, self.rss = [], [], []

    def run(self):
        wall, rss = 0.0, 0.0
        for command in self.commands:
            seconds, peak, _ = timed(command, self.env)
            wall, rss = wall + seconds, max(rss, peak)
        return wall, rss


def pictures_of(folder):
    names = sorted(os.listdir(folder))
    order = {".jpg": 0, ".png": 1, ".tif": 2}
    names.sort(key=lambda n: (order.get(os.path.splitext(n)[1], 3), n))
    return [os.path.join(folder, n) for n in names if os.path.splitext(n)[1] in order]


def takes_jobs(cli):
    """Builds before the worker pool know no -j."""
    usage = subprocess.run([cli, "--help"], stdout=subprocess.PIPE, text=True).stdout
    return re.search(r"^\s*-j\b", usage, re.M) is not None


def make_tools(arguments, pictures, work):
    cli = os.path.join(arguments.bin, "pictova-cli")
    floor = os.path.join(arguments.bin, "pictova-floor")
    quality = str(arguments.quality)
    tools = [Tool("codec floor (1 core, no PDF)", [[floor, "--quality", quality] + pictures])]

    def ours(name, binary, extra, env=None):
        pdf = os.path.join(work, re.sub(r"\W+", "-", name) + ".pdf")
        command = [binary, "--quiet", "--quality", quality] + extra + pictures + ["-o", pdf]
        tools.append(Tool(name, [command], pdf, env))

    jobs = str(arguments.jobs)
    if takes_jobs(cli):
        ours(f"pictova-cli -j {jobs}", cli, ["-j", jobs])
        pixel_env = dict(os.environ, PICTOVA_PIXEL_PATH="1")
        ours("pictova-cli -j 1, pixel path only", cli, ["-j", "1"], pixel_env)
        # The floor writes TurboJPEG's standard Huffman tables: with them too, the difference
        # is our own overhead alone, and the row above shows what the optimised tables cost.
        standard_env = dict(pixel_env, PICTOVA_STANDARD_HUFFMAN="1")
        ours("pictova-cli -j 1, pixel path, standard Huffman tables", cli, ["-j", "1"],
             standard_env)
        ours(f"pictova-cli -j {jobs}, standard Huffman tables", cli, ["-j", jobs],
             dict(os.environ, PICTOVA_STANDARD_HUFFMAN="1"))
    else:
        ours("pictova-cli", cli, [])
    if arguments.baseline:
        ours("pictova-cli before (baseline)", arguments.baseline, [])
    if not arguments.no_imagemagick:
        # Debian's policy caps ImageMagick's pixel cache (memory, map and disk) below what the
        # whole set needs at once, so it converts one picture per process and qpdf joins the
        # pages; the join is timed with it. The policy also forbids the PDF coder by name;
        # PDF/A is the same writer. The pictures are turned upright as ours are, and every
        # page is a DCT image as ours is.
        pdf = os.path.join(work, "imagemagick.pdf")
        pages = [os.path.join(work, f"im-{i:03}.pdf") for i in range(len(pictures))]
        commands = [[IMAGEMAGICK, picture, "-auto-orient", "-compress", "jpeg",
                     "-quality", quality, "pdfa:" + page]
                    for picture, page in zip(pictures, pages)]
        commands.append(["qpdf", "--empty", "--pages"] + pages + ["--", pdf])
        tools.append(Tool("ImageMagick 6 convert, a process per picture", commands, pdf))
    return tools


def run_rounds(tools, runs):
    for round_ in range(runs):
        turned = tools[round_ % len(tools):] + tools[:round_ % len(tools)]
        walls = {}
        for tool in turned:
            wall, rss = tool.run()
            walls[tool.name] = wall
            tool.walls.append(wall)
            tool.rss.append(rss)
            log(f"round {round_ + 1}: {tool.name}: {wall:.2f} s, {rss:.0f} MB (load {load()})")
        floor = walls[tools[0].name]
        for tool in tools:
            tool.ratios.append(walls[tool.name] / floor)


def psnr_of(mse):
    return float("inf") if mse == 0 else 10 * math.log10(255.0 ** 2 / mse)


def squared_error(a, b):
    """Sum of squared differences and the number of samples, through histograms (no numpy)."""
    difference = ImageChops.difference(a, b)
    total, count = 0, 0
    for band in difference.split():
        histogram = band.histogram()
        total += sum(n * d * d for d, n in enumerate(histogram))
        count += band.width * band.height
    return total, count


def measure_pdf(pdf, pictures, work):
    """PSNR of every page's JPEG against its picture: the mean of the pages, the PSNR of all
    samples together, and the bytes of JPEG data in the PDF."""
    folder = tempfile.mkdtemp(prefix="pages-", dir=work)
    subprocess.run(["pdfimages", "-j", pdf, os.path.join(folder, "p")], check=True)
    pages = sorted(os.listdir(folder))
    if len(pages) != len(pictures):
        raise RuntimeError(f"{pdf}: {len(pages)} images for {len(pictures)} pictures")
    per_page, total, count, data = [], 0, 0, 0
    for page, picture in zip(pages, pictures):
        data += os.path.getsize(os.path.join(folder, page))
        with Image.open(os.path.join(folder, page)) as embedded, Image.open(picture) as source:
            source = ImageOps.exif_transpose(source)
            mode = "L" if embedded.mode == "L" and source.mode == "L" else "RGB"
            a, b = embedded.convert(mode), source.convert(mode)
            if a.size != b.size:
                raise RuntimeError(f"{pdf}: page {page} is {a.size}, picture {b.size}")
            error, samples = squared_error(a, b)
        per_page.append(psnr_of(error / samples))
        total += error
        count += samples
    shutil.rmtree(folder)
    return statistics.mean(per_page), psnr_of(total / count), data


def preview_time(arguments, photo):
    program = os.path.join(arguments.bin, "pictova-preview-time")
    _, _, out = timed([program, photo])
    return out.strip()


def big_list(arguments, pictures, work):
    photos = [p for p in pictures if p.endswith(".jpg")]
    folder = os.path.join(work, "big")
    os.makedirs(folder)
    links = []
    for i in range(arguments.big):
        link = os.path.join(folder, f"page{i:05}.jpg")
        os.symlink(os.path.abspath(photos[i % len(photos)]), link)
        links.append(link)
    pdf = os.path.join(work, "big.pdf")
    command = [os.path.join(arguments.bin, "pictova-cli"), "--quiet", "-j", str(arguments.jobs),
               "--quality", str(arguments.quality)] + links + ["-o", pdf]
    wall, rss, _ = timed(command)
    size = os.path.getsize(pdf)
    os.remove(pdf)
    return wall, rss, size


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin", default="build/ci/bin")
    parser.add_argument("--set", default="build/bench/set")
    parser.add_argument("--small", action="store_true", help="the set at a tenth of the side")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--quality", type=int, default=60)
    parser.add_argument("--jobs", type=int, default=os.cpu_count())
    parser.add_argument("--baseline", help="another pictova-cli to time beside (an older build)")
    parser.add_argument("--no-imagemagick", action="store_true")
    parser.add_argument("--no-psnr", action="store_true")
    parser.add_argument("--big", type=int, default=0, help="pages of the long document")
    parser.add_argument("--preview", action="store_true")
    arguments = parser.parse_args()

    subprocess.run(["/usr/bin/python3", os.path.join(HERE, "make_set.py"), arguments.set] +
                   (["--small"] if arguments.small else []), check=True)
    pictures = pictures_of(arguments.set)
    megapixels = 0
    for picture in pictures:
        with Image.open(picture) as image:
            megapixels += image.width * image.height / 1e6

    work = tempfile.mkdtemp(prefix="pictova-bench-")
    try:
        started = time.strftime("%Y-%m-%d %H:%M")
        load_before = load()
        tools = make_tools(arguments, pictures, work)
        run_rounds(tools, arguments.runs)
        load_after = load()

        print(f"Set: {len(pictures)} pictures, {megapixels:.0f} Mpx ({arguments.set}), "
              f"quality {arguments.quality}, {arguments.runs} rounds, started {started}.")
        print(f"Load average (1, 5, 15 min): {load_before} before, {load_after} after; "
              f"{os.cpu_count()} cores.\n")
        print("| tool | wall, median | x floor, median of rounds (min..max) | peak RSS, median "
              "| PDF |")
        print("|---|---|---|---|---|")
        for tool in tools:
            size = f"{os.path.getsize(tool.pdf) / 1e6:.1f} MB" if tool.pdf else "-"
            print(f"| {tool.name} | {statistics.median(tool.walls):.2f} s | "
                  f"{statistics.median(tool.ratios):.2f} ({min(tool.ratios):.2f}.."
                  f"{max(tool.ratios):.2f}) | {statistics.median(tool.rss):.0f} MB | {size} |")
        floor_out = timed(tools[0].commands[0])[2].split()
        print(f"\nThe floor's JPEGs: {int(floor_out[3]) / 1e6:.1f} MB.")

        if not arguments.no_psnr:
            print("\n| PDF | JPEG data | PSNR, mean of pages | PSNR, all samples |")
            print("|---|---|---|---|")
            for tool in tools[1:]:
                mean, overall, data = measure_pdf(tool.pdf, pictures, work)
                print(f"| {tool.name} | {data / 1e6:.2f} MB | {mean:.2f} dB | {overall:.2f} dB |")
        if arguments.preview:
            photo = next(p for p in pictures if p.endswith(".jpg"))
            print(f"\nPreview of {os.path.basename(photo)}: {preview_time(arguments, photo)}")
        if arguments.big:
            wall, rss, size = big_list(arguments, pictures, work)
            print(f"\n{arguments.big} pages of 12 Mpx photos, -j {arguments.jobs}: {wall:.1f} s, "
                  f"peak RSS {rss:.0f} MB, PDF {size / 1e6:.0f} MB (load {load()}).")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
