#pragma once

#include <string>
#include <string_view>

// The EMF a WMF was converted from, when the conversion kept it: office suites write it into the
// WMF's escape records (comments marked "WMFC"), in chunks, with a checksum. Empty when the WMF
// holds none, or when its chunks do not add up to a whole EMF whose checksum holds.
std::string EmbeddedEmf(std::string_view wmf);
