#!/usr/bin/python3
"""Writes src/platform/built_in_font_outlines.cpp: the outlines of the few characters the collapsed
island's label uses, taken from DejaVu Sans Mono (Debian's fonts-dejavu-core), in font units.

    scripts/built_in_font_outlines.py [--font /usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf]

Needs python3-fonttools. Run it again after changing CHARACTERS, and commit its output.
"""

import argparse
import os

from fontTools.pens.basePen import BasePen, decomposeQuadraticSegment
from fontTools.ttLib import TTFont

# The label's words ("idle", "Working…", "needs you"), its count's digits and the space between.
CHARACTERS = " 0123456789Wdegiklnorsuy\u2026"

OUTPUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "platform",
                      "built_in_font_outlines.cpp")


class Recorder(BasePen):
    """Flattens a glyph into the table's commands: M x y, L x y, Q cx cy x y, Z."""

    def __init__(self, glyph_set):
        super().__init__(glyph_set)
        self.words = []

    def _moveTo(self, p):
        self.words += ["M", *p]

    def _lineTo(self, p):
        self.words += ["L", *p]

    def _qCurveToOne(self, control, p):
        self.words += ["Q", *control, *p]

    def qCurveTo(self, *points):
        # TrueType's runs of off-curve points, split into single quadratic pieces.
        if points[-1] is None:
            raise SystemExit("a contour without on-curve points is not supported")
        for control, p in decomposeQuadraticSegment(points):
            self._qCurveToOne(control, p)
        self._BasePen__currentPoint = points[-1]

    def _closePath(self):
        self.words += ["Z"]

    def _curveToOne(self, *points):
        raise SystemExit("cubic outlines are not expected in a TrueType font")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--font", default="/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf")
    args = parser.parse_args()
    font = TTFont(args.font)
    cmap = font.getBestCmap()
    glyph_set = font.getGlyphSet()
    metrics = font["hmtx"].metrics
    units = font["head"].unitsPerEm
    version = next(n.toUnicode() for n in font["name"].names if n.nameID == 5)

    count, lines, glyphs = 0, [], []
    for character in sorted(CHARACTERS):
        name = cmap[ord(character)]
        recorder = Recorder(glyph_set)
        glyph_set[name].draw(recorder)
        words = [f"'{w}'" if isinstance(w, str) else str(round(w)) for w in recorder.words]
        lines.append(f"    // {name}")
        lines += ["    " + ", ".join(words[i:i + 16]) + "," for i in range(0, len(words), 16)]
        glyphs.append(f"    {{0x{ord(character):04X}, {metrics[name][0]}, {count}, {count + len(words)}}},  // {name}")
        count += len(words)
    with open(OUTPUT, "w") as out:
        out.write(f"""// Written by scripts/built_in_font_outlines.py from DejaVu Sans Mono ({version}); run it again
// rather than editing this file.
//
// DejaVu changes are in the public domain. Bitstream Vera Fonts Copyright (c) 2003 by Bitstream,
// Inc. All Rights Reserved. Bitstream Vera is a trademark of Bitstream, Inc. The whole licence
// is in debian/copyright.
#include "platform/built_in_font.h"

namespace tovami::built_in_font::outlines {{

const int kUnitsPerEm = {units};
const int kAscent = {font["hhea"].ascent};
const int kDescent = {-font["hhea"].descent};
const int kXHeight = {font["glyf"]["x"].yMax};

// clang-format off
const int16_t kCommands[] = {{
{chr(10).join(lines)}
}};

const Glyph kGlyphs[] = {{
{chr(10).join(glyphs)}
}};
// clang-format on

const size_t kGlyphCount = sizeof kGlyphs / sizeof kGlyphs[0];

}}  // namespace tovami::built_in_font::outlines
""")


if __name__ == "__main__":
    main()
