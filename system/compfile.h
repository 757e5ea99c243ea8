// compfile: the serialised form of arrays (written whole, ReadArray) and the
// system functions IIO, IIOS and IIOL built on it. Relies on the array core,
// the standard wrapper, the file helpers of nfiles and the pending OS error.
#pragma once

#include "apl.h"
#include "core/errors.h"

#include <cstdint>
#include <cstdio>

// Nesting deeper than this is refused when writing and when reading, so that
// everything written can be read back and hostile input cannot pile up levels.
constexpr int kMaxSerialDepth = kMaxNestingDepth;

// Reads one serialised array from the stream's position, in either byte order.
// Returns a new temporary, or null with the error set: FILE I/O with
// "Incompatible file format" for data that is not a serialised array, FILE I/O
// for data that ends too early, NONCE "Not supported yet" for an element type
// unknown in the other byte order, WS FULL. Nothing is left allocated on error.
aplarray *ReadArray(FILE *stream);

// The same from length bytes in memory; the error for data that is not a
// serialised array is formatError with formatMessage.
aplarray *ReadArrayBytes(const void *bytes, int64_t length, int32_t formatError, const char *formatMessage);

// Bytes of the serialised form (what IIOS gives and IIO writes). Borrows the array.
// -1 with LIMIT for nesting deeper than kMaxSerialDepth, or WS FULL.
int64_t SerialLength(const aplarray *array);
