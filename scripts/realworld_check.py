#!/usr/bin/python3
"""Development only, never run by CI: converts every picture of a folder of real-world files with
pictova-cli, one run per picture, and lists what looks wrong.

  /usr/bin/python3 scripts/realworld_check.py --cli build/rw/bin/pictova-cli CORPUS [--out DIR]

For each picture: no crash (exit >= 128, sanitizer report), no hang (60 s), exit 0 or a failure
that names the file; for a written PDF, qpdf --check exits 0, the page is the picture's pixel
size, the Info dictionary holds the title given, and the page rendered at 72 dpi is compared
with a reference rendering (ImageMagick; LibreOffice for metafiles) by mean absolute difference
per channel. A picture the reference reads but we refuse is listed too. Needs what
`scripts/setup --realworld` installs: LibreOffice for metafile references (a metafile with a
NAME.ref.png beside it, as scripts/metafiles/make_libemf_set writes, needs none).
"""
import argparse
import concurrent.futures
import os
import re
import shutil
import subprocess
import sys

IM = "/usr/bin/convert"
IDENTIFY = "/usr/bin/identify"
COMPARE = "/usr/bin/compare"
SHIFT = 6  # pixels the metafile reference may lie off our page's middle
TITLE = "Realworld \u00e9t\u00e9 check"
MAX_MEAN = 8.0  # mean difference per channel (0..255) beyond which a page is an outlier


def run(cmd, timeout=120, **kw):
    try:
        return subprocess.run(cmd, capture_output=True, timeout=timeout, **kw)
    except subprocess.TimeoutExpired:
        return None


def kind(path):
    with open(path, "rb") as f:
        head = f.read(64)
    if head[:4] == b"\xd7\xcd\xc6\x9a" or head[:6] in (b"\x01\x00\x09\x00\x00\x03", b"\x02\x00\x09\x00\x00\x03",
                                                     b"\x01\x00\x09\x00\x00\x01", b"\x02\x00\x09\x00\x00\x01"):
        return "wmf"
    if len(head) >= 44 and head[:4] == b"\x01\x00\x00\x00" and head[40:44] == b" EMF":
        return "emf"
    if head[:4] == b"\x00\x00\x01\x00":
        return "ico"
    return "raster"


def reference(path, work):
    """A PNG of the picture as a viewer shows it, or None."""
    ref = os.path.join(work, "ref.png")
    k = kind(path)
    if k in ("wmf", "emf"):
        made = METAFILE_REFS.get(path)
        # A set whose producer also drew each picture itself (scripts/metafiles) brings its
        # reference beside it, as NAME.ref.png.
        sidecar = os.path.splitext(path)[0] + ".ref.png"
        if (made is None or not os.path.exists(made)) and os.path.exists(sidecar):
            made = sidecar
        if made is None or not os.path.exists(made):
            return None
        r = run([IM, made, "-background", "white", "-flatten", "PNG24:" + ref])
        return ref if r is not None and r.returncode == 0 else None
    frame = "[0]"
    if k == "ico":
        # The largest entry (ties: more colours), as the converter chooses.
        r = run([IDENTIFY, "-format", "%s %w %h %z\n", path])
        if r is None or r.returncode != 0:
            return None
        best = None
        for line in r.stdout.decode(errors="replace").split("\n"):
            parts = line.split()
            if len(parts) == 4:
                key = (int(parts[1]) * int(parts[2]), int(parts[3]))
                if best is None or key > best[0]:
                    best = (key, parts[0])
        if best is None:
            return None
        frame = "[%s]" % best[1]
    r = run([IM, path + frame, "-auto-orient", "+repage", "-background", "white", "-flatten", "-colorspace", "sRGB",
             "-depth", "8", "PNG24:" + ref])
    if r is None or r.returncode != 0 or not os.path.exists(ref):
        return None
    return ref


METAFILE_REFS = {}


def render_metafiles(files, outdir):
    """LibreOffice's renderings of the metafiles, made in one run (it serves one at a time)."""
    metas = [f for f in files if kind(f) in ("wmf", "emf")]
    if not metas or shutil.which("soffice") is None:
        return
    by_ext = {}
    for f in metas:
        by_ext.setdefault(os.path.splitext(f)[1].lower(), []).append(f)
    for i, (ext, group) in enumerate(sorted(by_ext.items())):
        # Same-named files of other folders would overwrite each other: one folder per extension
        # and distinct names are assumed for metafiles.
        refdir = os.path.join(outdir, "refs%d" % i)
        os.makedirs(refdir, exist_ok=True)
        run(["soffice", "--headless", "--convert-to", "png", "--outdir", refdir] + group, timeout=1800)
        for f in group:
            METAFILE_REFS[f] = os.path.join(refdir, os.path.splitext(os.path.basename(f))[0] + ".png")


def size_of(png):
    r = run([IDENTIFY, "-format", "%w %h", png])
    if r is None or r.returncode != 0:
        return None
    w, h = r.stdout.decode().split()
    return int(w), int(h)


def mean_difference(a, b, scale="25%"):
    """Mean absolute difference of R, G, B (0..255) of two pictures of one size."""
    # Averaged over blocks first: JPEG's halved chroma (pink edges on red-on-white text) and
    # the renderer's smoothing are no faults; wrong colours, turns, missing shapes and alpha
    # survive the averaging.
    r = run([IM, "(", a, "-scale", scale, ")", "(", b, "-scale", scale, ")", "-colorspace", "sRGB",
             "-compose", "difference", "-composite", "-separate", "-format", "%[fx:mean*255] ", "info:"])
    if r is None or r.returncode != 0:
        return None
    values = [float(v) for v in r.stdout.decode().split()]
    return values[:3] if len(values) >= 3 else values * 3


def check(cli, path, outdir, index):
    work = os.path.join(outdir, "w%05d" % index)
    os.makedirs(work, exist_ok=True)
    pdf = os.path.join(work, "out.pdf")
    res = {"path": path, "status": "", "notes": []}
    r = run([cli, "--quiet", "--title", TITLE, "--author", "A. Tester", "--quality", "92", path, "-o", pdf],
            timeout=60)
    if r is None:
        res["status"] = "HANG"
        return res
    err = r.stderr.decode(errors="replace")
    res["stderr"] = err.strip()
    if r.returncode >= 128 or r.returncode < 0 or "Sanitizer" in err or "runtime error:" in err:
        res["status"] = "CRASH"
        res["notes"].append("exit %d" % r.returncode)
        return res
    ref = reference(path, work)
    if r.returncode != 0:
        res["status"] = "refused"
        if path not in err:
            res["notes"].append("failure does not name the file")
            res["status"] = "BADMSG"
        if r.returncode != 1:
            res["notes"].append("exit %d" % r.returncode)
            res["status"] = "BADEXIT"
        if ref is not None and res["status"] == "refused":
            res["status"] = "refused-readable"  # the reference could read it
        return res
    q = run(["qpdf", "--check", pdf])
    if q is None or q.returncode != 0:
        res["status"] = "QPDF"
        res["notes"].append((q.stdout.decode(errors="replace") if q else "qpdf hung")[-300:])
        return res
    info = run(["pdfinfo", "-box", pdf])
    text = info.stdout.decode(errors="replace") if info else ""
    m = re.search(r"Page size:\s+([\d.]+) x ([\d.]+)", text)
    page = (round(float(m.group(1))), round(float(m.group(2)))) if m else None
    if TITLE not in text:
        res["notes"].append("title missing")
    res["page"] = page
    png = os.path.join(work, "page")
    run(["pdftoppm", "-r", "72", "-png", "-singlefile", pdf, png])
    png += ".png"
    if not os.path.exists(png):
        res["status"] = "NORENDER"
        return res
    if ref is None:
        res["status"] = "ok-noref"
        return res
    refsize = size_of(ref)
    res["refsize"] = refsize
    if kind(path) in ("wmf", "emf"):
        # LibreOffice draws the metafile at 96 dpi in the middle of an A4 page: the middle,
        # at our page size, is the reference. It centres what is drawn rather than the frame,
        # so the part of the middle that matches our page best, a few pixels either way.
        scaled = os.path.join(work, "ref_scaled.png")
        if refsize == page:
            shutil.copyfile(ref, scaled)
        else:
            near = os.path.join(work, "ref_near.png")
            run([IM, ref, "-gravity", "center", "-crop", "%dx%d+0+0" % (page[0] + 2 * SHIFT, page[1] + 2 * SHIFT),
                 "+repage", near])
            r = run([COMPARE, "-metric", "MAE", "-subimage-search", near, png, "null:"])
            m = re.search(r"@ (\d+),(\d+)", r.stderr.decode(errors="replace")) if r is not None else None
            x, y = (int(m.group(1)), int(m.group(2))) if m else (SHIFT, SHIFT)
            run([IM, near, "-crop", "%dx%d+%d+%d" % (page[0], page[1], x, y), "+repage", scaled])
            res["notes"].append("reference shifted %+d,%+d" % (x - SHIFT, y - SHIFT))
        ref = scaled
    elif refsize != page:
        res["status"] = "SIZE"
        res["notes"].append("page %s, picture %s" % (page, refsize))
        return res
    diff = mean_difference(ref, png)
    res["pagediff"] = diff
    # The embedded picture itself, without the renderer's smoothing (poppler blurs small
    # pictures drawn at 1:1): this is what the verdict goes by.
    run(["pdfimages", "-png", pdf, os.path.join(work, "img")])
    embedded = os.path.join(work, "img-000.png")
    if os.path.exists(embedded) and size_of(embedded) == size_of(ref) and kind(path) not in ("wmf", "emf"):
        diff = mean_difference(ref, embedded, "50%")
    res["diff"] = diff
    if diff is None:
        res["status"] = "NOCOMPARE"
    elif max(diff) > MAX_MEAN:
        res["status"] = "DIFF"
    else:
        res["status"] = "ok"
    return res


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--out", default="/tmp/realworld_out")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--keep", action="store_true", help="keep the PDFs and renderings")
    ap.add_argument("corpus", nargs="+")
    args = ap.parse_args()
    files = []
    for c in args.corpus:
        if os.path.isdir(c):
            for root, _, names in os.walk(c):
                files += [os.path.join(root, n) for n in names]
        else:
            files.append(c)
    files = sorted(f for f in files if "/svgsrc/" not in f and "/src/" not in f and not f.endswith(".ref.png"))
    os.makedirs(args.out, exist_ok=True)
    cli = os.path.abspath(args.cli)
    render_metafiles([os.path.abspath(f) for f in files], args.out)
    results = []
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        futures = [pool.submit(check, cli, os.path.abspath(f), args.out, i) for i, f in enumerate(files)]
        for f, path in zip(futures, files):
            try:
                results.append(f.result())
            except Exception as e:  # a fault of this script, not of the converter
                results.append({"path": path, "status": "SCRIPT", "notes": [repr(e)]})
    counts = {}
    for res in results:
        counts[res["status"]] = counts.get(res["status"], 0) + 1
    bad = [r for r in results if r["status"] not in ("ok", "ok-noref", "refused")]
    for r in bad:
        diff = " ".join("%.1f" % v for v in r.get("diff") or [])
        if r.get("pagediff"):
            diff += " (page %s)" % " ".join("%.1f" % v for v in r["pagediff"])
        print("%-16s %-8s %s %s | %s" % (r["status"], diff, r["path"], "; ".join(r["notes"]),
                                        r.get("stderr", "")[:200].replace("\n", " / ")))
    print("summary:", ", ".join("%s %d" % kv for kv in sorted(counts.items())), "of", len(results))
    if not args.keep:
        shutil.rmtree(args.out, ignore_errors=True)
    return 1 if any(r["status"] in ("CRASH", "HANG", "QPDF", "BADMSG", "BADEXIT") for r in results) else 0


if __name__ == "__main__":
    sys.exit(main())
