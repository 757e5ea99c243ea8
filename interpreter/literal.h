// literal: the system function EXTRN, which spells internal text in its
// external keyword form. Relies on the keyword table that the token file
// installs (tokfile) and on the array core.
#pragma once

#include "apl.h"

#include <cstdint>

// The keyword spelling of `length` codes as a new temporary CHAR vector; the
// codes unchanged when no keyword table is installed. Null with WS FULL.
aplarray *KeywordText(const uint8_t *codes, int32_t length);
