// Fuzz target for transfer files: arbitrary bytes are read as records, and
// then imported with IN, as a file from elsewhere would be. Every object text
// is whole records of 71 columns, nothing is read that the file does not hold,
// and no block is left behind once the workspace is cleared.
#include "apl.h"
#include "core/arrays.h"
#include "interpreter/mainloop.h"
#include "interpreter/transcmd.h"
#include "system/transfile.h"

#include "fuzz_support.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void Require(bool condition, const char *what) { fuzz::Require(condition, "atfrecords_fuzz", what); }

int32_t clearBlocks = 0;
char path[64] = "/tmp/atfrecords_fuzz_XXXXXX";

void ReadRecords(const uint8_t *data, size_t size) {
    FILE *stream = fmemopen(const_cast<uint8_t *>(data), size, "rb");
    if (!stream) return;
    TransferFile file{stream};
    std::string text;
    size_t total = 0;
    while (ReadTransferRecords(file, text)) {
        Require(!text.empty() && text.size() % kRecordTextColumns == 0, "a text of broken records");
        total += text.size();
        Require(total <= size, "more text than the file holds");
    }
    Require(text.empty(), "text left after the end");
    fclose(stream);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::StartQuietSession(int64_t{256} << 20);
    const int fd = mkstemp(path);
    Require(fd >= 0, "no temporary file");
    close(fd);
    ClearAndAnnounce();
    clearBlocks = fuzz::LiveBlocks();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (1u << 16)) return 0;
    ReadRecords(data, size);
    FILE *file = fopen(path, "wb");
    Require(file != nullptr, "the temporary file cannot be written");
    Require(fwrite(data, 1, size, file) == size, "the temporary file cannot be written");
    fclose(file);
    aplerrno = 0;
    Require(TransferIn(path), "IN refuses a file name");
    aplerrno = 0;
    ClearAndAnnounce();
    Require(fuzz::LiveBlocks() == clearBlocks, "blocks left behind");
    return 0;
}
