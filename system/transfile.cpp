// transfile: reading and writing the 80-column records of transfer files, the
// fixed translation between the system's characters and the interchange set,
// and WordOf. Relies on the C library's streams and the interrupt flag.
#include "system/transfile.h"

#include "core/errors.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace {

// Internal code and interchange code for every character the table moves; all
// other codes stand for themselves.
struct CodePair {
    uint8_t internal, interchange;
};
constexpr CodePair kMovedCodes[] = {
    {22, 208},  {128, 199}, {129, 252}, {130, 233}, {131, 226}, {132, 228}, {133, 224}, {134, 229}, {135, 231},
    {136, 234}, {137, 235}, {138, 232}, {139, 239}, {140, 238}, {141, 236}, {142, 196}, {143, 197}, {144, 140},
    {145, 141}, {146, 142}, {147, 244}, {148, 246}, {149, 242}, {150, 251}, {151, 249}, {152, 130}, {153, 214},
    {154, 220}, {155, 216}, {156, 163}, {157, 131}, {158, 22},  {159, 128}, {160, 225}, {161, 237}, {162, 243},
    {163, 250}, {164, 241}, {165, 209}, {166, 160}, {167, 162}, {168, 191}, {169, 151}, {170, 165}, {171, 167},
    {172, 158}, {173, 161}, {174, 149}, {175, 150}, {176, 171}, {177, 174}, {178, 182}, {179, 183}, {180, 187},
    {182, 145}, {183, 146}, {184, 133}, {185, 192}, {186, 193}, {187, 194}, {188, 195}, {189, 132}, {190, 152},
    {191, 198}, {192, 200}, {193, 201}, {194, 202}, {195, 203}, {196, 204}, {197, 205}, {198, 134}, {199, 135},
    {200, 206}, {201, 207}, {202, 210}, {203, 211}, {204, 212}, {205, 213}, {206, 217}, {207, 173}, {208, 218},
    {209, 186}, {210, 240}, {211, 222}, {212, 219}, {213, 221}, {214, 164}, {215, 129}, {216, 170}, {217, 227},
    {218, 230}, {219, 245}, {220, 248}, {221, 166}, {222, 253}, {223, 254}, {224, 184}, {225, 223}, {226, 155},
    {227, 156}, {228, 169}, {229, 138}, {230, 189}, {231, 139}, {232, 178}, {233, 180}, {234, 177}, {235, 159},
    {236, 188}, {237, 179}, {238, 185}, {239, 157}, {240, 154}, {241, 153}, {242, 137}, {243, 136}, {244, 172},
    {245, 215}, {246, 247}, {247, 143}, {248, 176}, {249, 190}, {250, 144}, {251, 147}, {252, 148}, {253, 175},
    {254, 168},
};

struct Tables {
    std::array<uint8_t, 256> out{}, in{};
};

constexpr Tables MakeTables() {
    Tables t;
    for (int c = 0; c < 256; ++c) t.out[c] = t.in[c] = static_cast<uint8_t>(c);
    for (const CodePair &p : kMovedCodes) t.out[p.internal] = p.interchange;
    for (int c = 0; c < 256; ++c) t.in[t.out[c]] = static_cast<uint8_t>(c);
    return t;
}
constexpr Tables kTables = MakeTables();

// CR LF records are 82 bytes, LF records 81.
constexpr int kCrLfRecord = kRecordColumns + 2;
constexpr int kLfRecord = kRecordColumns + 1;

bool IsBlank(char c) { return c == ' '; }

// Reads the next record into `record` (its 80 columns); false at the end of
// the file or at a record whose line end is not where it belongs.
bool ReadRecord(TransferFile &file, char record[kCrLfRecord]) {
    if (file.ended) return false;
    if (file.recordLength == 0) {
        // The first record tells the line ends: a line feed as byte 82 means
        // CR LF; otherwise the 82nd byte already belongs to the next record.
        const size_t got = fread(record, 1, kCrLfRecord, file.stream);
        if (got == kCrLfRecord && record[81] == '\n' && record[80] == '\r') {
            file.recordLength = kCrLfRecord;
            return true;
        }
        if (got >= kLfRecord && record[80] == '\n') {
            if (got == kCrLfRecord && ungetc(static_cast<unsigned char>(record[81]), file.stream) == EOF) {
                file.ended = true;
                return false;
            }
            file.recordLength = kLfRecord;
            return true;
        }
        file.ended = true;
        return false;
    }
    const size_t want = static_cast<size_t>(file.recordLength);
    const bool whole = fread(record, 1, want, file.stream) == want;
    const bool lineEnd = whole && record[want - 1] == '\n' && (want == kLfRecord || record[80] == '\r');
    if (!lineEnd) file.ended = true;
    return lineEnd;
}

}  // namespace

uint8_t ToInterchange(uint8_t internal) { return kTables.out[internal]; }
uint8_t ToInternal(uint8_t interchange) { return kTables.in[interchange]; }

void TranslateText(uint8_t *text, int64_t length, int direction) {
    const std::array<uint8_t, 256> &table = direction == kToInterchange ? kTables.out : kTables.in;
    for (int64_t i = 0; i < length; ++i) text[i] = table[text[i]];
}

const char *WordOf(const char *text, int64_t length, char *out, int64_t outSize, int64_t n) {
    if (outSize > 0) out[0] = 0;
    int64_t i = 0;
    for (int64_t word = 0;; ++word) {
        while (i < length && IsBlank(text[i])) ++i;
        if (i == length) return nullptr;
        const int64_t start = i;
        while (i < length && !IsBlank(text[i])) ++i;
        if (word < n) continue;
        const int64_t size = i - start;
        if (size >= outSize) return nullptr;
        memcpy(out, text + start, static_cast<size_t>(size));
        out[size] = 0;
        return text + start;
    }
}

bool ReadTransferRecords(TransferFile &file, std::string &text) {
    text.clear();
    char record[kCrLfRecord];
    try {
        while (ReadRecord(file, record)) {
            const char type = record[0];
            if (type == '*') continue;
            if (type != ' ' && type != 'X') break;
            text.append(record + 1, kRecordTextColumns);
            if (type == 'X') {
                TranslateText(reinterpret_cast<uint8_t *>(text.data()), static_cast<int64_t>(text.size()), kToInternal);
                return true;
            }
        }
    } catch (const std::bad_alloc &) {
    }
    file.ended = true;
    text.clear();
    return false;
}

bool AppendTransferRecords(const std::string &text, std::string &out) {
    const size_t length = text.size();
    for (size_t start = 0; start < length; start += kRecordTextColumns) {
        if (InterruptAt(static_cast<int64_t>(start / kRecordTextColumns))) return false;
        const size_t piece = std::min<size_t>(kRecordTextColumns, length - start);
        out += length - start <= kRecordTextColumns ? 'X' : ' ';
        const size_t at = out.size();
        out.append(text, start, piece);
        TranslateText(reinterpret_cast<uint8_t *>(out.data() + at), static_cast<int64_t>(piece), kToInterchange);
        out.append(kRecordTextColumns - piece + 7, ' ');
        out += static_cast<char>(kRecordEndMark);
        out += "\r\n";
    }
    return true;
}
