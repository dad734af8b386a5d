#pragma once

#include <string>

// ICC profiles for the colour-management tests: real ones of other makers where Debian has
// them, the rest built with Little CMS at test time.

// Little CMS's own sRGB.
std::string SrgbIcc();
// Adobe RGB (1998) as colord ships it: wider green than sRGB, gamma 2.2.
std::string AdobeRgbIcc();
// Display P3: P3 primaries, D65, sRGB's tone curve.
std::string DisplayP3Icc();
// Grey with a linear tone curve (gamma 1.0).
std::string LinearGreyIcc();
// A CMYK print profile whose inks mix as the plain formula says, on paper and through inks only
// 80% as bright: cyan, magenta and yellow at 100% are (0, 204, 204), (204, 0, 204), (204, 204,
// 0), paper is (204, 204, 204).
std::string DimPressCmykIcc();
