// GenTLProducer: CGenTL, one loaded GenTL producer with its function table and its interfaces.
#pragma once

#include "GenTL.h"
#include "os/DynamicLibrary.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qorcam::library {

class CInterface;
class CQorCamDLL;

/// Producer types of the producer table; a camera record's type is this minus 1.
enum : std::uint32_t { kProducerIIDC = 1, kProducerGigE = 2, kProducerUSB = 3 };

// The GenTL functions the library uses, in the order it resolves them.
#define QORCAM_CONSUMED_GENTL_FUNCTIONS(X)                                                                   \
    X(GCInitLib)                                                                                             \
    X(GCCloseLib)                                                                                            \
    X(GCGetInfo)                                                                                             \
    X(GCGetLastError)                                                                                        \
    X(TLOpen)                                                                                                \
    X(TLClose)                                                                                               \
    X(TLGetNumInterfaces)                                                                                    \
    X(TLGetInterfaceID)                                                                                      \
    X(TLOpenInterface)                                                                                       \
    X(TLUpdateInterfaceList)                                                                                 \
    X(IFClose)                                                                                               \
    X(IFGetNumDevices)                                                                                       \
    X(IFGetDeviceID)                                                                                         \
    X(IFUpdateDeviceList)                                                                                    \
    X(IFGetDeviceInfo)                                                                                       \
    X(IFOpenDevice)                                                                                          \
    X(DevGetPort)                                                                                            \
    X(DevGetNumDataStreams)                                                                                  \
    X(DevGetDataStreamID)                                                                                    \
    X(DevOpenDataStream)                                                                                     \
    X(DevGetInfo)                                                                                            \
    X(DevClose)                                                                                              \
    X(DSAnnounceBuffer)                                                                                      \
    X(DSFlushQueue)                                                                                          \
    X(DSStartAcquisition)                                                                                    \
    X(DSStopAcquisition)                                                                                     \
    X(DSClose)                                                                                               \
    X(DSRevokeBuffer)                                                                                        \
    X(DSQueueBuffer)                                                                                         \
    X(DSGetBufferInfo)                                                                                       \
    X(GCReadPort)                                                                                            \
    X(GCWritePort)                                                                                           \
    X(GCGetNumPortURLs)                                                                                      \
    X(GCGetPortURLInfo)                                                                                      \
    X(GCRegisterEvent)                                                                                       \
    X(GCUnregisterEvent)                                                                                     \
    X(EventGetData)                                                                                          \
    X(EventFlush)                                                                                            \
    X(EventKill)

/// The producer's functions, resolved by name; every GenTL call of the
/// library goes through one of these tables.
struct GenTLFunctions {
#define QORCAM_GENTL_POINTER(name) P##name name = nullptr;
    QORCAM_CONSUMED_GENTL_FUNCTIONS(QORCAM_GENTL_POINTER)
#undef QORCAM_GENTL_POINTER
};

/// One entry of the producer table.
struct ProducerEntry {
    std::uint32_t type;
    const char* file;
};

/// One loaded producer: its plug-in, its function table, its open system
/// module and its open interfaces.
///
/// Guarantees: a constructed CGenTL has every function of the table, an
/// initialised library and an open system module; a constructor that fails
/// throws a CErrorText and leaves nothing loaded or open. The destructor
/// closes the interfaces (front first), the system module and the library,
/// then unloads the plug-in. The interface list changes only in
/// UpdateInterface, which the library calls with its library and
/// producer-list locks held.
class CGenTL {
public:
    /// Loads `file` by plain name (the library's own folder, then the
    /// system's search), else from the GenICam folder named by
    /// GENICAM_ROOT_V2_4. Throws "GenTL Module Not Found", "GenTL Load Entry
    /// Error" or the producer's own error text.
    CGenTL(CQorCamDLL& library, std::uint32_t type, const std::string& file);
    virtual ~CGenTL();
    CGenTL(const CGenTL&) = delete;
    CGenTL& operator=(const CGenTL&) = delete;

    /// Refreshes the interface list: interfaces still listed keep their
    /// objects, new ones are opened, vanished ones are destroyed.
    void UpdateInterface();

    /// The producer's last-error text (at most 127 characters).
    std::string LastErrorText();

    std::uint32_t Type() const { return type_; }
    TL_HANDLE Handle() const { return tl_; }
    const std::vector<std::unique_ptr<CInterface>>& Interfaces() const { return interfaces_; }
    CQorCamDLL& Library() { return library_; }

    GenTLFunctions fn;

private:
    void Resolve();

    CQorCamDLL& library_;
    os::DynamicLibrary module_;
    std::uint32_t type_;
    TL_HANDLE tl_ = nullptr;
    std::vector<std::unique_ptr<CInterface>> interfaces_;
};

} // namespace qorcam::library
