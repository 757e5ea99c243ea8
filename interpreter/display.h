// display: the console-style display of a value (APL_Display, the quad and
// result output of the session and of compiled code). Relies on the format
// engine, the keyword spelling of literal and the output channel.
#pragma once

#include "apl.h"

// The value as text for the session: a CHAR matrix, or any CHAR array (which the
// printer shows as a matrix). Returns a temporary, or the value itself when it is
// character data outside keyword mode; only reads the value. Null with the error set.
aplarray *FormatForDisplay(aplarray *value);
// Writes the rows of a CHAR array in pieces of at most PW characters, every row
// but the last ended; only reads the array. With `numbers` (the text of a
// numeric array) a row is cut at the last column blank in every row that lets
// the piece fit, and that blank is dropped, so no number is split; text and a
// number wider than the page are cut at the width. Stops with INTERRUPT when
// the host has set APL_interrupted.
void PrintCharMatrix(const aplarray *matrix, bool numbers = false);
