#pragma once

#include <string>

// EMFs written at test time by another producer, Debian's libEMF, each 320 x 240 pixels (its
// frame at 96 dpi) on a white page. Coordinates are libEMF's: its reference device's pixels,
// 3.2 a millimetre. Kept apart from the tests because libEMF's headers declare the Windows
// drawing interface.

// Nothing drawn and no object made (the header then counts no handles).
std::string LibEmfEmpty();
// A red rectangle (20,20)-(140,100), a blue ellipse in (180,20)-(300,120) and a green polygon
// (20,140) (140,140) (80,220), all outlined with the default black pen.
std::string LibEmfShapes();
// An orange square (0,0)-(1000,1000) scaled onto (100,60)-(260,220) by a world transform
// between SaveDC and RestoreDC, then a purple triangle filled along a path (160,120) (260,120)
// (210,190).
std::string LibEmfTransformsAndPaths();
