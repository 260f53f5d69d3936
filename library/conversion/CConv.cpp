// The conversion object: checks, the YUV table and the dispatch to the kernels.
#include "CConv.h"

#include "ClassifyPixelFormat.h"
#include "KernelArgs.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>

namespace qorcam::conversion {
namespace {

constexpr uint32_t kParameterError = STATUSQORCAM_PARAMETER_ERROR;
constexpr uint32_t kUndefError = STATUSQORCAM_UNDEF_ERROR;

// (i - 128) x coefficient, truncated toward zero. A coefficient that is not a
// number counts as 0, and products are held to +-32767 so that no sum of
// table entries can overflow; coefficients below 255 in size are unaffected.
int32_t TableEntry(int i, double coefficient) {
    if (std::isnan(coefficient)) return 0;
    double product = static_cast<double>(i - 128) * coefficient;
    if (product > 32767.0) return 32767;
    if (product < -32767.0) return -32767;
    return static_cast<int32_t>(product);
}

// Finds mul and shift with (m x mul) >> shift equal to |row[128 + m]| for m
// of 0 to 128 and the sign of every entry that of (i - 128) x sign; checks
// every entry of the row. False when the row has no such form (its entries
// were held to +-32767, say).
bool FitLinear(const int32_t* row, int32_t& mul, int32_t& shift, bool& negative) {
    negative = row[0] > 0 || row[255] < 0;
    for (int s = 24; s >= 8; --s) {
        int64_t lo = 0, hi = 0;
        if (!MultiplierRange(row, s, INT32_MAX / 128, lo, hi)) continue;
        bool exact = true;
        for (int i = 0; i < 256 && exact; ++i) {
            const int64_t n = i - 128;
            int64_t v = (std::abs(n) * lo) >> s;
            if (n < 0) v = -v;
            if (negative) v = -v;
            exact = v == row[i];
        }
        if (!exact) return false;
        mul = static_cast<int32_t>(lo);
        shift = s;
        return true;
    }
    return false;
}

bool Fail(uint32_t* error, uint32_t code) {
    if (error) *error = code;
    return false;
}

} // namespace

struct CConv::YuvData {
    int32_t table[1024];
    YuvLinear linear;
    bool isLinear = false;
};

CConv::~CConv() {
    delete yuv_.load();
}

const int32_t* CConv::YuvTable() const {
    const YuvData* data = yuv_.load(std::memory_order_acquire);
    return data ? data->table : nullptr;
}

uint64_t CConv::SourceRowBytes(int32_t id, uint32_t width) {
    const uint64_t w = width;
    switch (id) {
    case ConvMono8:
    case ConvBayer8:
        return w;
    case ConvYuv411:
    case ConvYCbCr411:
        return (6 * w + 3) / 4;
    case ConvYuv422:
    case ConvMono16:
    case ConvBayer16:
    case ConvRgb565:
    case ConvBgr565:
    case ConvYuv422Yuyv:
    case ConvYCbCr422:
        return 2 * w;
    case ConvYuv444:
    case ConvRgb8:
    case ConvBgr8:
    case ConvYCbCr8:
        return 3 * w;
    case ConvRgb16:
    case ConvBgr16:
        return 6 * w;
    case ConvMono12Packed:
    case ConvMono10Packed:
    case ConvBayer12Packed:
    case ConvBayer10Packed:
    case ConvMono12p:
    case ConvBayer12p:
        return (3 * w + 1) / 2;
    case ConvRgbx8:
    case ConvBgrx8:
    case ConvRgb10V1Packed:
    case ConvRgb10V2Packed:
        return 4 * w;
    case ConvRgb12V1Packed:
        return (9 * w + 1) / 2;
    default:
        return 0;
    }
}

uint64_t CConv::DibRowBytes(uint32_t dibMode, uint32_t width) {
    const uint64_t w = width;
    if (dibMode == Dib32) return 4 * w;
    if (dibMode == Dib24) return (3 * w + 3) & ~uint64_t{3};
    return 0;
}

bool CConv::MakeYuvTable() {
    if (yuv_.load(std::memory_order_acquire)) return true;
    std::lock_guard<std::mutex> guard(lock_);
    if (yuv_.load(std::memory_order_relaxed)) return true;
    auto* data = new (std::nothrow) YuvData;
    if (!data) return false;
    const double coefficients[4] = {R_Value, G1_Value, G2_Value, B_Value};
    data->isLinear = true;
    for (int k = 0; k < 4; ++k) {
        int32_t* row = data->table + k * 256;
        for (int i = 0; i < 256; ++i)
            row[i] = TableEntry(i, coefficients[k]);
        data->isLinear = data->isLinear && FitLinear(row, data->linear.mul[k], data->linear.shift[k],
                                                     data->linear.negative[k]);
    }
    if (data->isLinear) FitYuv16(data->table, data->linear);
    yuv_.store(data, std::memory_order_release);
    return true;
}

bool CConv::ConvExec(const ConvRequest& request, uint32_t* error) {
    const int32_t id = static_cast<int32_t>(request.ConvFormatId);
    const bool bayer = id == ConvBayer8 || id == ConvBayer16 || id == ConvBayer12Packed ||
                       id == ConvBayer10Packed || id == ConvBayer12p;
    const uint64_t srcRow = SourceRowBytes(id, request.Width);
    const uint64_t dstRow = DibRowBytes(DIBMode, request.Width);
    const auto width = static_cast<int32_t>(request.Width);
    const auto height = static_cast<int32_t>(request.Height);

    if (IsYuvFormat(id) && !MakeYuvTable()) return Fail(error, kUndefError);
    if (srcRow == 0 || dstRow == 0 || width < 1 || height < 1) return true;
    if (StoreMode > StoreBmpLR || (bayer && request.BayerPhase > 3)) return Fail(error, kParameterError);
    // Both sizes must fit 32 bits; compared by division so nothing overflows.
    if (srcRow > UINT32_MAX / request.Height || dstRow > UINT32_MAX / request.Height)
        return Fail(error, kParameterError);

    KernelArgs args;
    args.width = width;
    args.height = height;
    args.id = id;
    args.phase = request.BayerPhase;
    args.swapBytes = request.EndianMode == EndianBig;
    uint32_t shift = EffectiveShift.load(std::memory_order_relaxed);
    if (ShiftID == ShiftAuto && shift == static_cast<uint32_t>(ShiftAuto))
        shift = AutoShiftFor(id, request.Bits);
    args.shift = shift & 31;
    args.storeMode = StoreMode;
    args.revision = BayerRevision_G;
    args.parallel = Parallel_Flag;
    args.src = request.Src;
    args.dst = request.Dst;
    if (const YuvData* yuv = yuv_.load(std::memory_order_acquire)) {
        args.yuv = yuv->table;
        if (yuv->isLinear) args.yuvLinear = &yuv->linear;
    }
    args.srcStride = static_cast<size_t>(srcRow);
    args.dstStride = static_cast<size_t>(dstRow);

    const bool dib32 = DIBMode == Dib32;
    switch (id) {
    case ConvBayer8:
        dib32 ? DemosaicBayer8ToDIB32(args) : DemosaicBayer8ToDIB24(args);
        break;
    case ConvBayer16:
        dib32 ? DemosaicBayer16ToDIB32(args) : DemosaicBayer16ToDIB24(args);
        break;
    case ConvBayer12Packed:
    case ConvBayer10Packed:
    case ConvBayer12p:
        dib32 ? DemosaicBayerPackedToDIB32(args) : DemosaicBayerPackedToDIB24(args);
        break;
    default:
        dib32 ? ConvertToDIB32(args) : ConvertToDIB24(args);
        break;
    }
    return true;
}

void CConv::ConvertToDIB32(const KernelArgs& args) const {
    ConvertGeneric(args, 4);
}
void CConv::ConvertToDIB24(const KernelArgs& args) const {
    ConvertGeneric(args, 3);
}
void CConv::DemosaicBayer8ToDIB32(const KernelArgs& args) const {
    DemosaicBayer(args, 4, SampleKind::Byte);
}
void CConv::DemosaicBayer8ToDIB24(const KernelArgs& args) const {
    DemosaicBayer(args, 3, SampleKind::Byte);
}
void CConv::DemosaicBayer16ToDIB32(const KernelArgs& args) const {
    DemosaicBayer(args, 4, SampleKind::Word);
}
void CConv::DemosaicBayer16ToDIB24(const KernelArgs& args) const {
    DemosaicBayer(args, 3, SampleKind::Word);
}

void CConv::DemosaicBayerPackedToDIB32(const KernelArgs& args) const {
    DemosaicBayer(args, 4, args.id == ConvBayer12p ? SampleKind::Packed12p : SampleKind::Packed);
}

void CConv::DemosaicBayerPackedToDIB24(const KernelArgs& args) const {
    DemosaicBayer(args, 3, args.id == ConvBayer12p ? SampleKind::Packed12p : SampleKind::Packed);
}

} // namespace qorcam::conversion
