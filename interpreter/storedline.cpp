// storedline: the reader of the parts of a stored line that are more than a
// tag and its payload: constants in their pool and control-block headers.
#include "interpreter/storedline.h"

#include "core/glyphs.h"


// The segments' count is bounded beyond any block written by hand, so that a
// damaged count cannot send the reader far outside the line.
constexpr uint32_t kMaxSegments = 65536;

bool ReadControlBlock(const uint8_t *brace, const uint8_t *begin, ControlBlock &block) {
    block = ControlBlock{};
    const uint8_t *q = brace - 1;
    if (begin && q <= begin) return false;
    if (*q == kBlockForLoop) {
        if (begin && q - 2 <= begin) return false;
        q -= 2;
        block.loopVariable = ReadShort(q);
    } else if (*q != kBlockCase) {
        return false;
    }
    if (begin && q - 4 <= begin) return false;
    q -= 4;
    block.count = ReadLong(q);
    if (block.count == 0 || block.count > kMaxSegments) return false;
    if (begin && block.count > static_cast<uint32_t>(q - begin - 1) / 4) return false;
    block.tableLeft = q - 4 * block.count;
    if (begin) {
        const auto room = static_cast<uint32_t>(block.tableLeft - begin - 1);
        for (uint32_t i = 0; i < block.count; ++i) {
            const uint32_t reach = block.Reach(i);
            if (reach > room || (i && reach <= block.Reach(i - 1))) return false;
        }
    }
    return *block.LeftBrace() == glyph::kLeftBrace;
}
