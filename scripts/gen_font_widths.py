#!/usr/bin/env python3
"""Writes pdf/PdfFontWidths.cpp: the advance widths of the twelve standard fonts for the
character codes 32 to 255 of WinAnsiEncoding, in thousandths of the text size.

The widths come from the metric-compatible .afm files of Debian's fonts-urw-base35 package.
Run it by hand from the project root when the tables must change; its output is committed:

    python3 scripts/gen_font_widths.py [AFM_DIR] > pdf/PdfFontWidths.cpp

Only the Python standard library is used.
"""

import os
import sys

AFM_DIR = "/usr/share/fonts/type1/urw-base35"

# WinAnsiEncoding (the PDF standard, Annex D): code -> glyph name, for codes 32 to 255.
# None marks the codes the encoding leaves undefined.
_ASCII = (
    "space exclam quotedbl numbersign dollar percent ampersand quotesingle parenleft parenright "
    "asterisk plus comma hyphen period slash zero one two three four five six seven eight nine "
    "colon semicolon less equal greater question at A B C D E F G H I J K L M N O P Q R S T U V "
    "W X Y Z bracketleft backslash bracketright asciicircum underscore grave a b c d e f g h i j "
    "k l m n o p q r s t u v w x y z braceleft bar braceright asciitilde"
).split()
_HIGH = (
    # 127-159
    "- Euro - quotesinglbase florin quotedblbase ellipsis dagger daggerdbl circumflex "
    "perthousand Scaron guilsinglleft OE - Zcaron - - quoteleft quoteright quotedblleft "
    "quotedblright bullet endash emdash tilde trademark scaron guilsinglright oe - zcaron "
    "Ydieresis "
    # 160-191
    "space exclamdown cent sterling currency yen brokenbar section dieresis copyright "
    "ordfeminine guillemotleft logicalnot hyphen registered macron degree plusminus "
    "twosuperior threesuperior acute mu paragraph periodcentered cedilla onesuperior "
    "ordmasculine guillemotright onequarter onehalf threequarters questiondown "
    # 192-223
    "Agrave Aacute Acircumflex Atilde Adieresis Aring AE Ccedilla Egrave Eacute Ecircumflex "
    "Edieresis Igrave Iacute Icircumflex Idieresis Eth Ntilde Ograve Oacute Ocircumflex Otilde "
    "Odieresis multiply Oslash Ugrave Uacute Ucircumflex Udieresis Yacute Thorn germandbls "
    # 224-255
    "agrave aacute acircumflex atilde adieresis aring ae ccedilla egrave eacute ecircumflex "
    "edieresis igrave iacute icircumflex idieresis eth ntilde ograve oacute ocircumflex otilde "
    "odieresis divide oslash ugrave uacute ucircumflex udieresis yacute thorn ydieresis"
).split()
WIN_ANSI = {code: name for code, name in enumerate(_ASCII, start=32)}
WIN_ANSI.update({code: (None if name == "-" else name) for code, name in enumerate(_HIGH, start=127)})
assert sorted(WIN_ANSI) == list(range(32, 256)), "the encoding table must cover 32..255"

# Codes that hold 0 in the proportional tables: the undefined codes, and the no-break space and
# soft hyphen, which measure as nothing.
ZERO_CODES = {127, 129, 141, 143, 144, 157, 160, 173}

# Rows every generated table must match (code -> width per font); on a difference these win.
CHECK_ROWS = {
    "Helvetica": {32: 278, 39: 191, 48: 556, 64: 1015, 65: 667, 87: 944, 97: 556, 105: 222,
                  109: 833, 128: 556, 198: 1000},
    "Helvetica-Bold": {32: 278, 39: 238, 48: 556, 64: 975, 65: 722, 87: 944, 97: 556,
                       105: 278, 109: 889, 128: 556, 198: 1000},
    "Times-Roman": {32: 250, 39: 180, 48: 500, 64: 921, 65: 722, 87: 944, 97: 444, 105: 278,
                    109: 778, 128: 500, 198: 889},
    "Times-Bold": {32: 250, 39: 278, 48: 500, 64: 930, 65: 722, 87: 1000, 97: 500, 105: 278,
                   109: 833, 128: 500, 198: 1000},
    "Times-Italic": {32: 250, 39: 214, 48: 500, 64: 920, 65: 611, 87: 833, 97: 500, 105: 278,
                     109: 722, 128: 500, 198: 889},
    "Times-BoldItalic": {32: 250, 39: 278, 48: 500, 64: 832, 65: 667, 87: 889, 97: 500,
                         105: 278, 109: 778, 128: 500, 198: 944},
}

# (array name, base font, metrics file or None for fixed 600, base font whose table it shares)
FONTS = [
    ("kFixedWidthWidths", "Courier", None, None),
    ("kFixedWidthBoldWidths", "Courier-Bold", None, None),
    ("kFixedWidthItalicWidths", "Courier-Oblique", None, None),
    ("kFixedWidthBoldItalicWidths", "Courier-BoldOblique", None, None),
    ("kArialWidths", "Helvetica", "NimbusSans-Regular.afm", None),
    ("kArialBoldWidths", "Helvetica-Bold", "NimbusSans-Bold.afm", None),
    ("kArialItalicWidths", "Helvetica-Oblique", "NimbusSans-Italic.afm", "Helvetica"),
    ("kArialBoldItalicWidths", "Helvetica-BoldOblique", "NimbusSans-BoldItalic.afm",
     "Helvetica-Bold"),
    ("kTimesRomanWidths", "Times-Roman", "NimbusRoman-Regular.afm", None),
    ("kTimesBoldWidths", "Times-Bold", "NimbusRoman-Bold.afm", None),
    ("kTimesItalicWidths", "Times-Italic", "NimbusRoman-Italic.afm", None),
    ("kTimesBoldItalicWidths", "Times-BoldItalic", "NimbusRoman-BoldItalic.afm", None),
]

# The monospaced metrics files, checked to be 600 wide for every encoded glyph.
FIXED_AFMS = ["NimbusMonoPS-Regular.afm", "NimbusMonoPS-Bold.afm", "NimbusMonoPS-Italic.afm",
              "NimbusMonoPS-BoldItalic.afm"]


def read_afm_widths(path):
    """Glyph name -> advance width from the CharMetrics section (first entry of a name wins)."""
    widths = {}
    in_metrics = False
    with open(path, encoding="latin-1") as afm:
        for line in afm:
            line = line.strip()
            if line.startswith("StartCharMetrics"):
                in_metrics = True
                continue
            if line.startswith("EndCharMetrics"):
                break
            if not in_metrics or not line:
                continue
            fields = {}
            for part in line.split(";"):
                words = part.split()
                if len(words) >= 2:
                    fields[words[0]] = words[1]
            if "N" in fields and "WX" in fields:
                widths.setdefault(fields["N"], int(round(float(fields["WX"]))))
    if not widths:
        sys.exit(f"gen_font_widths: no character metrics in {path}")
    return widths


def encode(afm_widths, path):
    table = []
    for code in range(32, 256):
        name = WIN_ANSI[code]
        if code in ZERO_CODES or name is None:
            table.append(0)
            continue
        if name not in afm_widths:
            sys.exit(f"gen_font_widths: {path} has no glyph {name} (code {code})")
        table.append(afm_widths[name])
    return table


def main():
    afm_dir = sys.argv[1] if len(sys.argv) > 1 else AFM_DIR
    notes = []

    for fixed in FIXED_AFMS:
        path = os.path.join(afm_dir, fixed)
        wrong = [c for c, w in zip(range(32, 256), encode(read_afm_widths(path), path))
                 if w not in (0, 600)]
        if wrong:
            notes.append(f"{fixed}: codes {wrong} are not 600 wide; 600 is used")

    tables = {}
    for array, base, afm, same_as in FONTS:
        if afm is None:
            tables[base] = [600] * 224
            continue
        path = os.path.join(afm_dir, afm)
        table = encode(read_afm_widths(path), path)
        if same_as is not None:
            if table != tables[same_as]:
                diff = [c for c, a, b in zip(range(32, 256), table, tables[same_as]) if a != b]
                notes.append(f"{base}: differs from {same_as} at codes {diff}; its table is used")
            table = list(tables[same_as])
        for code, expected in CHECK_ROWS.get(base, {}).items():
            if table[code - 32] != expected:
                notes.append(f"{base}: code {code} is {table[code - 32]} in {afm}; "
                             f"{expected} is used")
                table[code - 32] = expected
        tables[base] = table

    for note in notes:
        print(f"gen_font_widths: {note}", file=sys.stderr)

    out = sys.stdout
    out.write("// Generated by scripts/gen_font_widths.py from the .afm files of Debian's\n"
              "// fonts-urw-base35 package. Edit the script, not this file.\n"
              "//\n"
              "// Advance widths of the twelve standard fonts for the WinAnsiEncoding codes 32 to\n"
              "// 255, in thousandths of the text size; each row holds sixteen codes.\n"
              "// The rows are laid out for reading, not by the formatter.\n"
              "// clang-format off\n\n"
              "#include \"pdf/PdfFontWidths.h\"\n")
    for array, base, _afm, _same in FONTS:
        table = tables[base]
        out.write(f"\n// {base}\nconst int {array}[kPdfFontWidthCount] = {{\n")
        for start in range(0, 224, 16):
            row = ", ".join(f"{w:4d}" for w in table[start:start + 16])
            out.write(f"    {row},\n")
        out.write("};\n")


if __name__ == "__main__":
    main()
