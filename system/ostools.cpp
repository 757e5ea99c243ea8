// ostools: the system functions that reach the operating system: SH (run a
// command), LIB (files matching a pattern), TS (local time) and AI (processor
// time). Relies on the platform layer, ostext for the text that crosses over,
// and the standard wrapper.
#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/wrapper.h"
#include "system/nfiles.h"
#include "system/niladic.h"
#include "system/ostext.h"
#include "system/platform.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

aplarray *Fail(int32_t code) {
    SetError(code);
    return nullptr;
}

// The text of a CHAR vector or scalar as UTF-8 for the system; false with RANK
// or DOMAIN (a NUL inside would cut the text short).
bool SystemText(const aplarray *a, std::string &text) {
    if (a->rank > 1) return Fail(APL_ERR_RANK), false;
    const std::string_view codes(DataOf<const char>(a), static_cast<size_t>(a->number));
    if (codes.find('\0') != std::string_view::npos) return Fail(APL_ERR_DOMAIN), false;
    text = ToSystemText(codes);
    return true;
}

// The optional left argument of SH: one integer 0, 1 or 2.
bool CheckShellMode(const aplarray *mode) {
    if (!mode) return true;
    if (mode->rank > 1) return Fail(APL_ERR_RANK), false;
    int64_t value;
    if (!SingleInteger(mode, &value)) return false;
    if (value < 0 || value > 2) return Fail(APL_ERR_DOMAIN), false;
    return true;
}

aplarray *SystemCallKernel(CallArgs &args) {
    if (args.axis) return Fail(APL_ERR_AXIS);
    if (!CheckShellMode(args.left)) return nullptr;
    std::string command;
    if (!SystemText(args.right, command)) return nullptr;
    if (RunCommand(command) != 0) return Fail(APL_ERR_FILEIO);
    return nullptr;
}

// A nested vector of CHAR vectors; a temporary.
aplarray *NameVector(const std::vector<std::string> &names) {
    const auto n = static_cast<int32_t>(names.size());
    aplarray *result = AllocArray(APL_NESTEDARRAY | APL_TEMP, 1, APL_NESTED, &n, HERE);
    if (!result) return nullptr;
    for (int32_t i = 0; i < n; ++i) {
        const auto length = static_cast<int32_t>(names[static_cast<size_t>(i)].size());
        aplarray *name = AllocArray(APL_TEMP, 1, APL_CHAR, &length, HERE);
        if (!name) {
            APL_UnLinkTempEx(result, HERE);
            return nullptr;
        }
        memcpy(DataOf(name), names[static_cast<size_t>(i)].data(), static_cast<size_t>(length));
        ItemsOf(result)[i] = APL_LinkEx(name, HERE);
    }
    return result;
}

aplarray *DirectoryKernel(CallArgs &args) {
    if (args.left) return Fail(APL_ERR_VALENCE);
    if (args.axis) return Fail(APL_ERR_AXIS);
    std::string pattern;
    if (!SystemText(args.right, pattern)) return nullptr;
    std::vector<std::string> names;
    for (const std::string &found : MatchingFiles(pattern)) {
        // A name outside the character set could not be written back in a
        // file function: it is not offered.
        std::string codes;
        if (FromSystemText(found, codes)) names.push_back(std::move(codes));
    }
    // Translation keeps the order of ASCII names only; sort in the codes.
    std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return static_cast<uint8_t>(x) < static_cast<uint8_t>(y);
        });
    });
    if (names.empty()) return MakeString("");
    return NameVector(names);
}

}  // namespace

// No result. Consumes temporary arguments; linked ones are left as they were.
extern "C" aplarray *APL_SystemCall(aplarray *axis, aplarray *left, aplarray *right) {
    constexpr Signature kSignature{Optional(kAnyType), Optional(kNumeric), Required(APL_CHAR)};
    return StandardCall(kSignature, axis, left, right, SystemCallKernel);
}

// Returns a temporary nested vector of names (an empty CHAR vector when none
// match). Consumes temporary arguments; linked ones are left as they were.
extern "C" aplarray *APL_Directory(aplarray *axis, aplarray *left, aplarray *right) {
    constexpr Signature kSignature{Optional(kAnyType), Optional(kAnyType), Required(APL_CHAR)};
    return StandardCall(kSignature, axis, left, right, DirectoryKernel);
}

// Niladic: a new temporary INTG vector year, month, day, hour, minute, second, 0.
extern "C" aplarray *APL_TimeStamp(aplarray *axis, aplarray *left, aplarray *right) {
    if (!NiladicCall(axis, left, right)) return nullptr;
    const time_t now = time(nullptr);
    struct tm local {};
    if (!localtime_r(&now, &local)) return Fail(APL_ERR_SYSTEM);
    const int32_t stamp[7] = {
        local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, 0};
    return MakeIntVector(stamp, 7);
}

// Niladic: a new temporary INTG vector of four equal processor times in milliseconds.
extern "C" aplarray *APL_AccountInfo(aplarray *axis, aplarray *left, aplarray *right) {
    if (!NiladicCall(axis, left, right)) return nullptr;
    const auto used = static_cast<int32_t>(std::min<int64_t>(ProcessorMilliseconds(), INT32_MAX));
    const int32_t times[4] = {used, used, used, used};
    return MakeIntVector(times, 4);
}
