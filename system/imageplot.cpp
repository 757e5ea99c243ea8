// imageplot: Image_plot, exported for generated code without a name of its
// own: a polyline drawn into an INTG pixel matrix, with dash patterns chosen by
// pen numbers. Relies on the array core and the standard wrapper.
#include "core/arrays.h"
#include "core/eltypes.h"
#include "core/errors.h"
#include "core/wrapper.h"
#include "system/nfiles.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

aplarray *Fail(int32_t code) {
    SetError(code);
    return nullptr;
}

// Dash patterns, one bit per pixel step from the highest bit: pen 1 draws a
// solid line, pens 2 ... 8 dashes and dots; higher pens repeat the cycle.
constexpr uint16_t kDashes[8] = {0xFFFF, 0xFF00, 0xF0F0, 0xCCCC, 0xAAAA, 0xFFF0, 0xFE38, 0xE4E4};

struct Canvas {
    int32_t *pixels;
    int64_t width, height;
    void Plot(int64_t x, int64_t y, int32_t value) const {
        if (x >= 0 && x < width && y >= 0 && y < height) pixels[y * width + x] = value;
    }
};

struct Point {
    double x, y;  // pixel coordinates, not yet rounded
};

// Cuts the segment a-b to the box [lo, hi] in both coordinates (Liang and
// Barsky). False when nothing of it is inside; else the parameters of the
// kept part, 0 <= t0 <= t1 <= 1.
bool ClipSegment(Point a, Point b, double lo, double hiX, double hiY, double &t0, double &t1) {
    t0 = 0, t1 = 1;
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.x - lo, hiX - a.x, a.y - lo, hiY - a.y};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0) return false;
            continue;
        }
        const double r = q[i] / p[i];
        if (p[i] < 0)
            t0 = std::max(t0, r);
        else
            t1 = std::min(t1, r);
    }
    return t0 <= t1;
}

// Bresenham from a to b. Far-away points are first clipped to a margin around
// the image, so that every coordinate fits an integer and no step is spent
// outside; the dash pattern keeps its phase as if the whole line were walked.
void DrawSegment(const Canvas &canvas, Point a, Point b, int32_t value, uint16_t dash) {
    double t0, t1;
    const double margin = 2;
    if (!ClipSegment(a, b, -margin, static_cast<double>(canvas.width) + margin,
                     static_cast<double>(canvas.height) + margin, t0, t1))
        return;
    const double fullSteps = std::max(std::fabs(b.x - a.x), std::fabs(b.y - a.y));
    const Point from{a.x + t0 * (b.x - a.x), a.y + t0 * (b.y - a.y)};
    const Point to{a.x + t1 * (b.x - a.x), a.y + t1 * (b.y - a.y)};
    int64_t step = static_cast<int64_t>(std::llround(std::fmod(t0 * fullSteps, 16.0)));
    int64_t x = std::llround(from.x), y = std::llround(from.y);
    const int64_t x1 = std::llround(to.x), y1 = std::llround(to.y);
    const int64_t dx = std::llabs(x1 - x), dy = -std::llabs(y1 - y);
    const int64_t sx = x < x1 ? 1 : -1, sy = y < y1 ? 1 : -1;
    int64_t error = dx + dy;
    for (;;) {
        if (dash & (0x8000u >> (step & 15))) canvas.Plot(x, y, value);
        ++step;
        if (x == x1 && y == y1) break;
        const int64_t twice = 2 * error;
        if (twice >= dy) error += dy, x += sx;
        if (twice <= dx) error += dx, y += sy;
    }
}

// A coordinate in percent as a pixel position, limited to a range where it
// is still an exact double far outside any image.
double PixelOf(double percent, int64_t size) {
    const double position = static_cast<double>(size) * 0.01 * percent;
    return std::clamp(position, -1e12, 1e12);
}

// The pen's value as a pixel value: rounded, limited to INTG.
int32_t PenValue(double pen) {
    return static_cast<int32_t>(std::clamp(std::nearbyint(pen), -2147483648.0, 2147483647.0));
}

aplarray *ImagePlotKernel(CallArgs &args) {
    if (args.axis) return Fail(APL_ERR_AXIS);
    const aplarray *size = args.left, *path = args.right;
    if (path->rank != 2) return Fail(APL_ERR_RANK);
    if (path->shape[1] != 3) return Fail(APL_ERR_LENGTH);
    const int64_t given = ElementCount(size);
    if (given != 2 && given != 3) return Fail(APL_ERR_LENGTH);
    int64_t width, height, background = 0;
    if (!IntegerElement(size, 0, &width) || !IntegerElement(size, 1, &height)) return nullptr;
    if (given == 3 && !IntegerElement(size, 2, &background)) return nullptr;
    if (width < 0 || height < 0 || width > INT32_MAX || height > INT32_MAX || background < INT32_MIN ||
        background > INT32_MAX)
        return Fail(APL_ERR_DOMAIN);
    const int32_t shape[2] = {static_cast<int32_t>(height), static_cast<int32_t>(width)};
    aplarray *image = AllocArray(APL_SIMPLE | APL_TEMP, 2, APL_INTG, shape, HERE);
    if (!image) return nullptr;
    const Canvas canvas{DataOf<int32_t>(image), width, height};
    std::fill_n(canvas.pixels, width * height, static_cast<int32_t>(background));
    const double *rows = DataOf<const double>(path);
    for (int32_t i = 1; i < path->shape[0]; ++i) {
        const double *previous = rows + 3 * (i - 1), *row = rows + 3 * i;
        if (!(row[0] >= 0.5)) continue;
        const Point a{PixelOf(previous[1], width), PixelOf(100 - previous[2], height)};
        const Point b{PixelOf(row[1], width), PixelOf(100 - row[2], height)};
        const int32_t pen = PenValue(row[0]);
        DrawSegment(canvas, a, b, pen, kDashes[static_cast<uint32_t>(pen - 1) % 8]);
        if ((i & 0xFFFF) == 0 && InterruptRequested()) {
            APL_UnLinkTempEx(image, HERE);
            return nullptr;
        }
    }
    return image;
}

}  // namespace

// Returns a new temporary INTG matrix (height by width). Consumes temporary
// arguments; linked ones are left as they were.
extern "C" aplarray *APL_Image_plot(aplarray *axis, aplarray *left, aplarray *right) {
    constexpr Signature kSignature{Optional(kAnyType), Required(kAnyType), Required(APL_REAL)};
    return StandardCall(kSignature, axis, left, right, ImagePlotKernel);
}
