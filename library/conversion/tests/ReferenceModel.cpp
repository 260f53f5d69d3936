// A slow, literal model of the conversion, for comparison with the kernels.
#include "ReferenceModel.h"

#include <algorithm>
#include <cmath>

namespace qorcam::conversion::test {
namespace {

struct Bgr {
    int b, g, r;
};

int Clamp(int v) {
    return std::min(255, std::max(0, v));
}

uint64_t RowBytes(int32_t id, uint64_t w) {
    switch (id) {
    case 0:
    case 9:
        return w;
    case 1:
    case 27:
        return (6 * w + 3) / 4;
    case 2:
    case 5:
    case 10:
    case 22:
    case 23:
    case 24:
    case 26:
        return 2 * w;
    case 3:
    case 4:
    case 15:
    case 25:
        return 3 * w;
    case 6:
    case 16:
        return 6 * w;
    case 11:
    case 12:
    case 13:
    case 14:
    case 28:
    case 29:
        return (3 * w + 1) / 2;
    case 17:
    case 18:
    case 19:
    case 20:
        return 4 * w;
    case 21:
        return (9 * w + 1) / 2;
    default:
        return 0;
    }
}

struct Model {
    const RefSettings& set;
    const ConvRequest& req;
    int w, h;
    int pix;
    size_t stride;
    int32_t table[1024];

    Model(const RefSettings& s, const ConvRequest& r)
        : set(s), req(r), w(static_cast<int>(r.Width)), h(static_cast<int>(r.Height)),
          pix(s.dibMode == Dib32 ? 4 : 3), stride(static_cast<size_t>(RefDibBytes(s.dibMode, r.Width, 1))) {
        const double k[4] = {s.value.R_Value, s.value.G1_Value, s.value.G2_Value, s.value.B_Value};
        for (int t = 0; t < 4; ++t)
            for (int i = 0; i < 256; ++i)
                table[t * 256 + i] = RefYuvEntry(i, k[t]);
    }

    const uint8_t* Row(int y) const { return req.Src + RowBytes(req.ConvFormatId, w) * y; }

    int Word16(const uint8_t* p) const {
        const int v = req.EndianMode == 0 ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]);
        return (v >> (set.shift & 31)) & 255;
    }

    Bgr Yuv(int y, int u, int v) const {
        return {Clamp(y + table[768 + u]), Clamp(y - (table[256 + v] + table[512 + u])), Clamp(y + table[v])};
    }

    static int W5(int v) { return (v << 3 | v >> 2) & 255; }
    static int W6(int v) { return (v << 2 | v >> 4) & 255; }

    Bgr Pixel(const uint8_t* row, int x) const {
        const int id = static_cast<int>(req.ConvFormatId);
        switch (id) {
        case 0:
            return {row[x], row[x], row[x]};
        case 1:
        case 27: {
            const int k = x / 4, j = x % 4, base = 6 * k;
            const int rest = w - 4 * k; // pixels in this group, up to 4
            if (id == 1) {
                static const int ys[4] = {1, 2, 4, 5};
                const int v = rest >= 4 || rest == 3 ? row[base + 3] : (k > 0 ? row[base - 3] : 128);
                return Yuv(row[base + ys[j]], row[base], v);
            }
            static const int ys[4] = {0, 1, 3, 4};
            const int u = rest == 1 ? (k > 0 ? row[base - 4] : 128) : row[base + 2];
            const int v = rest >= 4 ? row[base + 5] : (k > 0 ? row[base - 1] : 128);
            return Yuv(row[base + ys[j]], u, v);
        }
        case 2:
        case 24:
        case 26: {
            const int k = x / 2, base = 4 * k;
            const bool full = 2 * k + 2 <= w;
            if (id == 2) {
                const int v = full ? row[base + 2] : (k > 0 ? row[base - 2] : 128);
                return Yuv(row[base + 1 + 2 * (x % 2)], row[base], v);
            }
            const int v = full ? row[base + 3] : (k > 0 ? row[base - 1] : 128);
            return Yuv(row[base + 2 * (x % 2)], row[base + 1], v);
        }
        case 3:
            return Yuv(row[3 * x + 1], row[3 * x], row[3 * x + 2]);
        case 25:
            return Yuv(row[3 * x], row[3 * x + 1], row[3 * x + 2]);
        case 4:
            return {row[3 * x + 2], row[3 * x + 1], row[3 * x]};
        case 15:
            return {row[3 * x], row[3 * x + 1], row[3 * x + 2]};
        case 17:
            return {row[4 * x + 2], row[4 * x + 1], row[4 * x]};
        case 18:
            return {row[4 * x], row[4 * x + 1], row[4 * x + 2]};
        case 5: {
            const int g = Word16(row + 2 * x);
            return {g, g, g};
        }
        case 6:
            return {Word16(row + 6 * x + 4), Word16(row + 6 * x + 2), Word16(row + 6 * x)};
        case 16:
            return {Word16(row + 6 * x), Word16(row + 6 * x + 2), Word16(row + 6 * x + 4)};
        case 11:
        case 13: {
            const int g = row[3 * (x / 2) + 2 * (x % 2)];
            return {g, g, g};
        }
        case 28: {
            const uint8_t* p = row + 3 * (x / 2);
            const int g = x % 2 ? p[2] : ((p[0] >> 4) | (p[1] & 15) << 4);
            return {g, g, g};
        }
        case 19:
            return {row[4 * x + 1], row[4 * x + 2], row[4 * x + 3]};
        case 20: {
            const uint32_t v =
                row[4 * x] | row[4 * x + 1] << 8 | row[4 * x + 2] << 16 | uint32_t{row[4 * x + 3]} << 24;
            return {static_cast<int>((v >> 2) & 255), static_cast<int>((v >> 12) & 255),
                    static_cast<int>((v >> 22) & 255)};
        }
        case 21: {
            const uint8_t* p = row + 9 * (x / 2);
            return x % 2 ? Bgr{p[8], p[6], p[5]} : Bgr{p[3], p[2], p[0]};
        }
        case 22:
        case 23: {
            const int v = row[2 * x] | row[2 * x + 1] << 8;
            const int lo = W5(v & 31), mid = W6((v >> 5) & 63), hi = W5(v >> 11);
            return id == 22 ? Bgr{hi, mid, lo} : Bgr{lo, mid, hi};
        }
        default:
            return {-1, -1, -1};
        }
    }

    uint8_t* At(std::vector<uint8_t>& d, int r, int c) const {
        return d.data() + stride * r + static_cast<size_t>(pix) * c;
    }

    bool Flip() const { return set.storeMode >= 2; }
    bool Mirror() const { return set.storeMode == 1 || set.storeMode == 3; }

    void Generic(std::vector<uint8_t>& d) const {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const Bgr v = Pixel(Row(y), x);
                if (v.b < 0) return;
                uint8_t* p = At(d, Flip() ? h - 1 - y : y, Mirror() ? w - 1 - x : x);
                p[0] = static_cast<uint8_t>(v.b);
                p[1] = static_cast<uint8_t>(v.g);
                p[2] = static_cast<uint8_t>(v.r);
            }
    }

    // ---- Bayer ----
    int Sample(int x, int y) const {
        const uint8_t* row = Row(y);
        switch (req.ConvFormatId) {
        case 9:
            return row[x];
        case 10:
            return Word16(row + 2 * x);
        case 12:
        case 14:
            return row[3 * (x / 2) + 2 * (x % 2)];
        default: {
            const uint8_t* p = row + 3 * (x / 2);
            return x % 2 ? p[2] : ((p[0] >> 4) | (p[1] & 15) << 4);
        }
        }
    }

    // 0 red, 1 green, 2 blue, for a position under a phase.
    static int Colour(uint32_t phase, int x, int y) {
        const int xe = (x + static_cast<int>((phase >> 1) & 1)) % 2,
                  ye = (y + static_cast<int>(phase & 1)) % 2;
        return xe == 0 && ye == 0 ? 0 : (xe == 1 && ye == 1 ? 2 : 1);
    }
    static int ByteOf(int colour) { return 2 - colour; } // red in byte 2, blue in byte 0

    void Bayer(std::vector<uint8_t>& d) const {
        uint32_t dp = req.BayerPhase;
        if (Mirror() && w % 2 == 0) dp ^= 2;
        if (Flip() && h % 2 == 0) dp ^= 1;
        // Placement, by the colour each sample has in the source.
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int v = Sample(x, y);
                uint8_t* p = At(d, Flip() ? h - 1 - y : y, Mirror() ? w - 1 - x : x);
                if (w < 2 || h < 2) {
                    p[0] = p[1] = p[2] = static_cast<uint8_t>(v);
                } else {
                    p[ByteOf(Colour(req.BayerPhase, x, y))] = static_cast<uint8_t>(v);
                }
            }
        if (w < 2 || h < 2) return;
        auto col = [&](int r, int c) { return Colour(dp, c, r); };
        auto nat = [&](int r, int c) { return static_cast<int>(At(d, r, c)[ByteOf(col(r, c))]); };
        auto put = [&](int r, int c, int colour, int v) {
            At(d, r, c)[ByteOf(colour)] = static_cast<uint8_t>(v);
        };
        auto redRowGreen = [&](int r, int c) {
            return col(r, c) == 1 && col(r, c + (c + 1 < w ? 1 : -1)) == 0;
        };

        // Interior interpolation from native samples.
        for (int r = 1; r <= h - 2; ++r)
            for (int c = 1; c <= w - 2; ++c) {
                const int k = col(r, c);
                if (k != 1) {
                    put(r, c, 1, (nat(r, c - 1) + nat(r, c + 1) + nat(r - 1, c) + nat(r + 1, c)) / 4);
                    put(r, c, 2 - k,
                        (nat(r - 1, c - 1) + nat(r - 1, c + 1) + nat(r + 1, c - 1) + nat(r + 1, c + 1)) / 4);
                } else if (redRowGreen(r, c)) {
                    put(r, c, 0, (nat(r, c - 1) + nat(r, c + 1)) / 2);
                    put(r, c, 2, (nat(r - 1, c) + nat(r + 1, c)) / 2);
                } else {
                    put(r, c, 2, (nat(r, c - 1) + nat(r, c + 1)) / 2);
                    put(r, c, 0, (nat(r - 1, c) + nat(r + 1, c)) / 2);
                }
            }

        // Green revision, in the sweep order.
        if (set.revision) {
            auto revise = [&](int r, int c) {
                if (col(r, c) != 1) return;
                const int s = nat(r - 1, c - 1) + nat(r - 1, c + 1) + nat(r + 1, c - 1) + nat(r + 1, c + 1);
                put(r, c, 1, nat(r, c) / 2 + s / 8);
            };
            int r = 1;
            for (; r + 1 <= h - 2; r += 2) {
                int c = 1;
                for (; c + 1 <= w - 2; c += 2) {
                    revise(r, c), revise(r, c + 1);         // the upper row's green of the block
                    revise(r + 1, c), revise(r + 1, c + 1); // then the lower row's
                }
                if (c == w - 2) revise(r, c), revise(r + 1, c);
            }
            if (r == h - 2)
                for (int c = 1; c <= w - 2; ++c)
                    revise(r, c);
        }

        // Border completion.
        auto rowColourOfGreen = [&](int r, int c) {
            const int n = col(r, c + (c + 1 < w ? 1 : -1));
            return n; // the colour beside a green in its row
        };
        for (int r : {0, h - 1})
            for (int c = 1; c <= w - 2; ++c) {
                const int inner = r == 0 ? 1 : h - 2;
                const int k = col(r, c);
                if (k != 1) {
                    put(r, c, 1, (nat(r, c - 1) + nat(r, c + 1)) / 2);
                    put(r, c, 2 - k, (nat(inner, c - 1) + nat(inner, c + 1)) / 2);
                } else {
                    const int inRow = rowColourOfGreen(r, c);
                    put(r, c, inRow, (nat(r, c - 1) + nat(r, c + 1)) / 2);
                    put(r, c, 2 - inRow, nat(inner, c));
                }
            }
        for (int c : {0, w - 1})
            for (int r = 1; r <= h - 2; ++r) {
                const int inner = c == 0 ? 1 : w - 2;
                const int k = col(r, c);
                if (k != 1) {
                    put(r, c, 1, (nat(r - 1, c) + nat(r + 1, c)) / 2);
                    put(r, c, 2 - k, (nat(r - 1, inner) + nat(r + 1, inner)) / 2);
                } else {
                    const int inCol = col(r + 1, c);
                    put(r, c, inCol, (nat(r - 1, c) + nat(r + 1, c)) / 2);
                    put(r, c, 2 - inCol, nat(r, inner));
                }
            }
        for (int r : {0, h - 1})
            for (int c : {0, w - 1}) {
                const int rr = r == 0 ? 1 : h - 2, cc = c == 0 ? 1 : w - 2;
                const int k = col(r, c);
                if (k != 1) {
                    put(r, c, 1, (nat(r, cc) + nat(rr, c)) / 2);
                    put(r, c, 2 - k, nat(rr, cc));
                } else {
                    put(r, c, col(r, cc), nat(r, cc));
                    put(r, c, col(rr, c), nat(rr, c));
                }
            }
    }
};

} // namespace

int32_t RefYuvEntry(int i, double coefficient) {
    // Not-a-number counts as 0; products are held to +-32767.
    if (coefficient != coefficient) return 0;
    return static_cast<int32_t>(std::trunc(std::max(-32767.0, std::min(32767.0, (i - 128) * coefficient))));
}

uint64_t RefSourceBytes(int32_t id, uint32_t width, uint32_t height) {
    return RowBytes(id, width) * height;
}

uint64_t RefDibBytes(uint32_t dibMode, uint32_t width, uint32_t height) {
    const uint64_t row = dibMode == Dib32 ? 4ull * width : (3ull * width + 3) / 4 * 4;
    return row * height;
}

void RefConvert(const RefSettings& settings, const ConvRequest& request, std::vector<uint8_t>& dst) {
    if (static_cast<int32_t>(request.Width) < 1 || static_cast<int32_t>(request.Height) < 1) return;
    Model m(settings, request);
    switch (request.ConvFormatId) {
    case 9:
    case 10:
    case 12:
    case 14:
    case 29:
        m.Bayer(dst);
        break;
    default:
        m.Generic(dst);
        break;
    }
}

std::vector<uint8_t> RandomBytes(size_t n, std::mt19937& rng) {
    std::vector<uint8_t> v(n);
    std::uniform_int_distribution<int> d(0, 255);
    for (auto& b : v)
        b = static_cast<uint8_t>(d(rng));
    return v;
}

} // namespace qorcam::conversion::test
