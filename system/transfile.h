// transfile: transfer files (".atf"): fixed 80-column records in the
// interchange character set, the translation to and from it, and the word
// splitting that the transfer texts use. Relies on the C library's streams and
// the interrupt flag.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Columns of a record: its type, then the object's text, then padding and a mark.
constexpr int kRecordColumns = 80;
constexpr int kRecordTextColumns = 71;   // columns 2-72
constexpr uint8_t kRecordEndMark = 248;  // column 80

// Directions of TranslateText.
constexpr int kToInternal = 0;
constexpr int kToInterchange = 1;

// Translates `length` bytes in place, direction 1 from the system's character
// set to the interchange set, 0 back. The table is a permutation, so every
// text comes back unchanged.
void TranslateText(uint8_t *text, int64_t length, int direction);
// The interchange code of an internal code and back (the two halves of the table).
uint8_t ToInterchange(uint8_t internal);
uint8_t ToInternal(uint8_t interchange);

// Copies word n (counting from 0) of the blank-separated words of text[0,
// length) into `out`, NUL-terminated, and returns where the word starts in
// `text`. Null, with `out` empty, when there is no such word or it does not
// fit in `outSize` bytes with its terminator: nothing is written past `out`.
const char *WordOf(const char *text, int64_t length, char *out, int64_t outSize, int64_t n);

// A transfer file being read. Line ends are found out from the first record:
// CR LF (82-byte records) or LF alone (81-byte records).
struct TransferFile {
    FILE *stream = nullptr;
    int recordLength = 0;  // 0 until the first record was read
    bool ended = false;    // end of file, or a record that could not be read
};

// The text of the next object: columns 2-72 of its records up to and
// including its "X" record, translated to the system's character set;
// comment records ("*") are skipped. False at the end of the file, at a
// truncated or malformed record, or when memory runs out: an object whose
// records stop before its "X" record is not returned.
bool ReadTransferRecords(TransferFile &file, std::string &text);

// Appends the records of one object's text (translated to the interchange
// set, cut into 71-column pieces, CR LF line ends) to `out`. An empty text
// writes nothing. False, with INTERRUPT set and `out` partly written, when
// the host stops a long text.
bool AppendTransferRecords(const std::string &text, std::string &out);
