// The conversion object: camera images into 24- and 32-bit DIB bits.
#pragma once

#include "CBaseConv.h"
#include "ConvTypes.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace qorcam::conversion {

struct KernelArgs;

// Holds one set of conversion settings and converts one image per call.
// Guarantees:
// - ConvExec only reads the object (apart from building the YUV table once,
//   under the object's lock) and writes only the caller's destination, so
//   conversions into different destinations may run on several threads.
// - The fourth byte of every 32-bit pixel and the padding at the end of every
//   24-bit row are never written.
// - With Parallel_Flag bands of rows are shared among the calling thread and
//   sleeping helper threads, as many as the processors free at the call
//   allow (see Parallel.h); the bytes written are those of the serial form.
// - Sources are read only within the size that the format and the request's
//   width and height give; images whose source or destination size does not
//   fit 32 bits are refused.
class CConv : public CBaseConv {
public:
    // Accepts the library's QORCAM_COLORCONVMODE and QORCAM_COLORVALUE as
    // well as ConvMode and ConvValue: any records with those field names.
    template <class Mode, class Value>
    CConv(const Mode& mode, const Value& value)
        : R_Value(value.R_Value), G1_Value(value.G1_Value), G2_Value(value.G2_Value), B_Value(value.B_Value),
          StoreMode(static_cast<uint32_t>(mode.StoreMode)),
          EffectiveShift(static_cast<uint32_t>(static_cast<int32_t>(mode.ShiftID))),
          ShiftID(static_cast<int32_t>(mode.ShiftID)), DIBMode(static_cast<uint32_t>(mode.DIBMode)),
          BayerRevision_G(mode.BayerRevision_G != 0), Parallel_Flag(mode.Parallel_Flag != 0) {}
    ~CConv() override;

    // Converts one image. True when the conversion ran, also when there was
    // nothing to convert (an unknown format id, a DIB mode other than 0 or 1,
    // a width or height below 1). False when the YUV table could not be
    // allocated (error 99) or the request is unusable (error 1: store mode
    // or Bayer phase above 3, a source or destination size beyond 32 bits);
    // nothing is written then, and *error receives the code when given.
    bool ConvExec(const ConvRequest& request, uint32_t* error = nullptr);

    // The YUV table (four rows of 256 entries for R_Value, G1_Value,
    // G2_Value, B_Value), or null before the first YUV conversion.
    const int32_t* YuvTable() const;

    // Bytes of one source row of the format, and of one destination row;
    // 0 for an id without a conversion.
    static uint64_t SourceRowBytes(int32_t convFormatId, uint32_t width);
    static uint64_t DibRowBytes(uint32_t dibMode, uint32_t width);

    const double R_Value;
    const double G1_Value;
    const double G2_Value;
    const double B_Value;
    const uint32_t StoreMode;
    // Right shift of 16-bit samples; only its low 5 bits count. The camera
    // sets it at image start. While ShiftID is automatic and this still holds
    // the -1 it was made with, each conversion resolves it from the format.
    std::atomic<uint32_t> EffectiveShift;
    const int32_t ShiftID;
    const uint32_t DIBMode;
    const bool BayerRevision_G;
    const bool Parallel_Flag;

private:
    bool MakeYuvTable();

    void ConvertToDIB32(const KernelArgs& args) const;
    void ConvertToDIB24(const KernelArgs& args) const;
    void DemosaicBayer8ToDIB32(const KernelArgs& args) const;
    void DemosaicBayer8ToDIB24(const KernelArgs& args) const;
    void DemosaicBayer16ToDIB32(const KernelArgs& args) const;
    void DemosaicBayer16ToDIB24(const KernelArgs& args) const;
    void DemosaicBayerPackedToDIB32(const KernelArgs& args) const;
    void DemosaicBayerPackedToDIB24(const KernelArgs& args) const;

    std::mutex lock_;
    struct YuvData;
    std::atomic<YuvData*> yuv_{nullptr};
};

} // namespace qorcam::conversion
