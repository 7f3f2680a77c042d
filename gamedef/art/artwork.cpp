#include "gamedef/art/artwork.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace art {
namespace {

struct Rgb {
    double r, g, b;
};

Rgb mix(Rgb a, Rgb b, double t)
{
    t = std::clamp(t, 0.0, 1.0);
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Rgb scale(Rgb c, double k) { return {c.r * k, c.g * k, c.b * k}; }

double smooth(double t) { return t * t * (3 - 2 * t); }

// Deterministic lattice hash in [0, 1).
double hash2(int x, int y)
{
    uint32_t h = uint32_t(x) * 0x8DA6B343u ^ uint32_t(y) * 0xD8163841u;
    h ^= h >> 13;
    h *= 0x5BD1E995u;
    h ^= h >> 15;
    return (h & 0xFFFFFF) / double(0x1000000);
}

double valueNoise(double x, double y)
{
    const double fx = std::floor(x), fy = std::floor(y);
    const int ix = int(fx), iy = int(fy);
    const double tx = smooth(x - fx), ty = smooth(y - fy);
    const double a = hash2(ix, iy), b = hash2(ix + 1, iy);
    const double c = hash2(ix, iy + 1), d = hash2(ix + 1, iy + 1);
    return (a + (b - a) * tx) * (1 - ty) + (c + (d - c) * tx) * ty;
}

double fbm(double x, double y, int octaves)
{
    double sum = 0, amp = 0.5, norm = 0;
    for (int i = 0; i < octaves; ++i) {
        sum += amp * valueNoise(x, y);
        norm += amp;
        x = x * 2.03 + 17.1;
        y = y * 2.01 + 5.3;
        amp *= 0.5;
    }
    return sum / norm;
}

// Small generator for the film grain (xorshift32).
struct Grain {
    uint32_t state = 0x2545F491u;
    double next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return (state & 0xFFFF) / 65536.0 - 0.5;
    }
};

double segmentDistance(double px, double py, double ax, double ay, double bx, double by)
{
    const double vx = bx - ax, vy = by - ay;
    const double t = std::clamp(((px - ax) * vx + (py - ay) * vy) / (vx * vx + vy * vy), 0.0, 1.0);
    return std::hypot(px - (ax + t * vx), py - (ay + t * vy));
}

enum class Part { None, Hull, Band, Port, Mast, Sail, Flag };

struct ShipHit {
    Part part = Part::None;
    double shade = 1;  // lighting across sails
};

// Three-masted ship in its own frame: x along the hull (-1 stern .. 1 bow), y up from the waterline,
// one unit being half the hull's length.
ShipHit shipAt(double x, double y)
{
    constexpr double mastX[3] = {-0.45, 0.0, 0.42};
    constexpr double mastTop[3] = {0.95, 1.12, 0.9};

    // Flags stream downwind (to the right) from each mast top.
    for (int m = 0; m < 3; ++m) {
        const double fx = x - mastX[m];
        const double wave = 0.012 * std::sin(fx * 60);
        if (fx >= 0 && fx <= 0.11 && y <= mastTop[m] + wave && y >= mastTop[m] - 0.045 + wave + fx * 0.15)
            return {Part::Flag, 1};
    }
    // Square sails, three per mast, narrowing upwards and bellied by the wind.
    for (int m = 0; m < 3; ++m) {
        const double base = 0.3, height = mastTop[m] - 0.08 - base;
        for (int s = 0; s < 3; ++s) {
            const double y0 = base + height * s / 3.0 + 0.012, y1 = base + height * (s + 1) / 3.0;
            if (y < y0 || y > y1)
                continue;
            const double half = (0.2 - 0.035 * s) * (m == 1 ? 1.0 : 0.9);
            const double t = (y - y0) / (y1 - y0);
            const double belly = 0.03 * std::sin(t * std::numbers::pi);
            const double left = mastX[m] - half + belly, right = mastX[m] + half + belly;
            if (x >= left && x <= right)
                return {Part::Sail, 0.72 + 0.28 * (x - left) / (right - left) - 0.08 * std::abs(t - 0.5)};
        }
    }
    // Jib between the bowsprit and the foremast.
    {
        const double ax = 0.46, ay = 0.28, bx = 0.46, by = 0.78, cx = 1.22, cy = 0.33;
        const double d1 = (x - bx) * (ay - by) - (ax - bx) * (y - by);
        const double d2 = (x - cx) * (by - cy) - (bx - cx) * (y - cy);
        const double d3 = (x - ax) * (cy - ay) - (cx - ax) * (y - ay);
        const bool neg = d1 < 0 || d2 < 0 || d3 < 0, pos = d1 > 0 || d2 > 0 || d3 > 0;
        if (!(neg && pos) && x > 0.47)
            return {Part::Sail, 0.95};
    }
    for (int m = 0; m < 3; ++m)
        if (std::abs(x - mastX[m]) < 0.013 && y > 0.1 && y < mastTop[m] + 0.01)
            return {Part::Mast, 1};
    // Bowsprit and stays.
    if (segmentDistance(x, y, 0.9, 0.2, 1.3, 0.36) < 0.012 ||
        segmentDistance(x, y, mastX[0], mastTop[0], -0.92, 0.24) < 0.005 ||
        segmentDistance(x, y, mastX[1], mastTop[1], mastX[2], 0.3) < 0.004 ||
        segmentDistance(x, y, mastX[2], mastTop[2], 1.28, 0.35) < 0.005)
        return {Part::Mast, 1};
    // Hull: raked stern and bow, sheer rising towards both ends, a gun band with ports.
    const double deck = 0.15 + 0.05 * x * x + (x < -0.6 ? 0.1 * (-0.6 - x) / 0.3 : 0.0);
    if (y >= -0.02 && y <= deck && x >= -0.88 - 0.06 * y / 0.25 && x <= 0.78 + 0.22 * y / 0.2) {
        if (y >= 0.075 && y <= 0.105) {
            const double port = std::fmod(x + 2.0, 0.11);
            if (x > -0.75 && x < 0.7 && port > 0.04 && port < 0.07 && y > 0.08 && y < 0.1)
                return {Part::Port, 1};
            return {Part::Band, 1};
        }
        return {Part::Hull, 0.8 + 0.5 * y};
    }
    return {};
}

Rgb shipColour(const ShipHit& hit)
{
    switch (hit.part) {
    case Part::Hull: return scale({0.24, 0.14, 0.08}, hit.shade);
    case Part::Band: return {0.62, 0.46, 0.18};
    case Part::Port: return {0.05, 0.04, 0.03};
    case Part::Mast: return {0.16, 0.11, 0.07};
    case Part::Sail: return scale({0.93, 0.86, 0.74}, hit.shade);
    case Part::Flag: return {0.72, 0.08, 0.07};
    default: return {0, 0, 0};
    }
}

struct ShipPlacement {
    double cx, waterline, halfLength;
};

constexpr ShipPlacement kShips[2] = {{98, 178, 52}, {218, 153.5, 11}};
constexpr double kHorizon = 150;
constexpr double kSunX = 186, kSunY = 116, kSunRadius = 13;

Rgb skyAt(double x, double y)
{
    const double t = y / kHorizon;
    Rgb c = t < 0.55 ? mix({0.09, 0.14, 0.34}, {0.38, 0.42, 0.66}, t / 0.55)
                     : mix({0.38, 0.42, 0.66}, {0.99, 0.70, 0.42}, (t - 0.55) / 0.45);
    const double d = std::hypot(x - kSunX, y - kSunY);
    const double glow = std::exp(-d / 38.0) * 0.45;
    c = {c.r + glow, c.g + glow * 0.75, c.b + glow * 0.35};
    // Drifting cloud banks, lit from below by the sun.
    const double n = fbm(x / 70.0, y / 14.0, 5);
    const double cover = smooth(std::clamp((n - 0.52) / 0.2, 0.0, 1.0)) * std::clamp((kHorizon - 8 - y) / 40.0, 0.0, 1.0);
    const Rgb cloud = mix({0.30, 0.24, 0.36}, {0.98, 0.62, 0.48}, std::clamp(0.3 + t * 0.7 + glow, 0.0, 1.0));
    c = mix(c, cloud, cover * 0.85);
    if (d < kSunRadius)
        c = mix(c, {1.0, 0.95, 0.78}, std::clamp((kSunRadius - d) / 1.2, 0.0, 1.0) * (1 - cover * 0.6));
    // A low headland on the left horizon.
    const double land = kHorizon - 6 * fbm(x / 25.0, 3.7, 3) * std::clamp((60 - x) / 40.0, 0.0, 1.0);
    if (y > land && x < 70)
        c = mix(c, {0.16, 0.13, 0.2}, 0.9);
    return c;
}

Rgb seaAt(double x, double y)
{
    const double depth = (y - kHorizon) / (256 - kHorizon);
    const double persp = depth + 0.04;
    Rgb c = mix({0.42, 0.36, 0.42}, {0.03, 0.12, 0.21}, std::sqrt(depth));
    const double wave = fbm((x - 128) / (6 + 40 * persp) + 3, y / (1.2 + 9 * persp), 4);
    const double crest = std::clamp((wave - 0.55) * 4, 0.0, 1.0);
    c = mix(c, {0.55, 0.62, 0.7}, crest * 0.35);
    c = mix(c, {0.01, 0.05, 0.1}, std::clamp((0.45 - wave) * 2, 0.0, 1.0) * 0.5);
    // Sun path: a glittering column that widens towards the viewer.
    const double width = 6 + 34 * depth;
    const double path = std::exp(-std::pow((x - kSunX) / width, 2));
    const double glitter = std::clamp((wave - 0.42) * 3.5, 0.0, 1.0);
    c = mix(c, {1.0, 0.82, 0.52}, path * glitter * (0.9 - 0.4 * depth));
    return c;
}

// The ship seen at a point, with its mirror image on the water below its waterline.
bool shipColourAt(double x, double y, Rgb& out, bool& reflection)
{
    for (const ShipPlacement& s : kShips) {
        const double sx = (x - s.cx) / s.halfLength;
        double sy = (s.waterline - y) / s.halfLength;
        ShipHit hit = shipAt(sx, sy);
        if (hit.part != Part::None) {
            out = shipColour(hit);
            reflection = false;
            return true;
        }
        if (sy < -0.02) {
            const double wobble = 0.03 * std::sin(y * 1.7) * (-sy);
            hit = shipAt(sx + wobble, -sy * 1.1);
            if (hit.part != Part::None) {
                out = shipColour(hit);
                reflection = true;
                return true;
            }
        }
    }
    return false;
}

}  // namespace

std::vector<uint8_t> drawThumbnail()
{
    constexpr int kSamples = 4;
    constexpr double kGrain = 3.0;  // amplitude of the film grain in 8-bit steps
    std::vector<uint8_t> rgb(size_t(kThumbnailSize) * kThumbnailSize * 3);
    Grain grain;
    for (uint32_t py = 0; py < kThumbnailSize; ++py)
        for (uint32_t px = 0; px < kThumbnailSize; ++px) {
            Rgb sum{0, 0, 0};
            for (int sy = 0; sy < kSamples; ++sy)
                for (int sx = 0; sx < kSamples; ++sx) {
                    const double x = px + (sx + 0.5) / kSamples, y = py + (sy + 0.5) / kSamples;
                    Rgb c = y < kHorizon ? skyAt(x, y) : seaAt(x, y);
                    Rgb ship;
                    bool reflection = false;
                    if (shipColourAt(x, y, ship, reflection))
                        c = reflection ? mix(c, scale(ship, 0.35), 0.55) : ship;
                    sum = {sum.r + c.r, sum.g + c.g, sum.b + c.b};
                }
            const double n = kSamples * kSamples;
            const double g = grain.next() * kGrain;
            uint8_t* p = &rgb[(size_t(py) * kThumbnailSize + px) * 3];
            p[0] = uint8_t(std::clamp(sum.r / n * 255 + g, 0.0, 255.0));
            p[1] = uint8_t(std::clamp(sum.g / n * 255 + g, 0.0, 255.0));
            p[2] = uint8_t(std::clamp(sum.b / n * 255 + g, 0.0, 255.0));
        }
    return rgb;
}

std::vector<uint8_t> drawEmblem()
{
    constexpr int kSamples = 4;
    constexpr double c = kIconSize / 2.0;
    const Rgb navy{0.07, 0.16, 0.36}, gold{0.93, 0.74, 0.27};
    std::vector<uint8_t> rgba(size_t(kIconSize) * kIconSize * 4);
    for (uint32_t py = 0; py < kIconSize; ++py)
        for (uint32_t px = 0; px < kIconSize; ++px) {
            Rgb sum{0, 0, 0};
            int covered = 0;
            for (int sy = 0; sy < kSamples; ++sy)
                for (int sx = 0; sx < kSamples; ++sx) {
                    const double x = px + (sx + 0.5) / kSamples, y = py + (sy + 0.5) / kSamples;
                    const double r = std::hypot(x - c, y - c);
                    if (r > 15.5)
                        continue;
                    ++covered;
                    bool anchor = r > 13.8;  // gold rim
                    anchor |= std::abs(x - c) < 1.1 && y > 8.5 && y < 25.5;                 // shank
                    anchor |= std::abs(std::hypot(x - c, y - 6.8) - 2.1) < 0.8;             // ring
                    anchor |= std::abs(y - 11) < 0.9 && std::abs(x - c) < 5.5;              // stock
                    anchor |= y > 17 && std::abs(std::hypot(x - c, y - 15.5) - 9) < 1.0;    // arms
                    anchor |= y > 14.5 && y < 19 && std::abs(std::abs(x - c) - 9.2) < 2.4 - (y - 14.5) * 0.5;  // flukes
                    const double light = 1.0 - 0.25 * (y / kIconSize);
                    const Rgb colour = anchor ? scale(gold, light) : scale(navy, 0.8 + 0.4 * (1 - r / 15.5));
                    sum = {sum.r + colour.r, sum.g + colour.g, sum.b + colour.b};
                }
            uint8_t* p = &rgba[(size_t(py) * kIconSize + px) * 4];
            if (covered == 0)
                continue;
            p[0] = uint8_t(std::lround(std::clamp(sum.r / covered, 0.0, 1.0) * 255));
            p[1] = uint8_t(std::lround(std::clamp(sum.g / covered, 0.0, 1.0) * 255));
            p[2] = uint8_t(std::lround(std::clamp(sum.b / covered, 0.0, 1.0) * 255));
            p[3] = uint8_t(std::lround(covered * 255.0 / (kSamples * kSamples)));
        }
    return rgba;
}

}  // namespace art
