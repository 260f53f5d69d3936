// QorCamDLL: CQorCamDLL, the one library object of a process.
#pragma once

#include "QorCam.h"
#include "os/Event.h"
#include "os/Thread.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qorcam::conversion {
class CConv;
}

namespace qorcam::library {

class CGenTL;
struct ProducerEntry;

/// The process-wide library object: created at process attach, destroyed by
/// QORCAM_FreeLibrary, QORCAM_LogCommonAreaGet or unloading. It owns the
/// loaded producers, the stand-alone conversion objects, the per-thread last
/// errors, the application's system callback with the thread that calls it,
/// and the locks that order library-wide work: the library lock first, then
/// the producer-list lock, then the interface locks in array order.
///
/// Guarantees: the last-error map holds an entry only for threads whose last
/// call failed (setting 0 erases it); reading a thread without an entry gives
/// 0; both are safe from any thread. The system callback is called only on
/// the library's own callback thread (time-critical), with 1 for a bus reset
/// and 2 for a power-up; reports that arrive before it wakes fold into one
/// call each, and reports without a callback set are dropped. Producers load
/// only through CreateDrvList; one that fails is traced and tried again by the
/// next CreateDrvList. The constructor throws the integer 1 when its events or
/// its thread can't be made. The destructor closes every producer (their
/// interfaces and cameras first) and ends the callback thread.
class CQorCamDLL {
public:
    CQorCamDLL();
    virtual ~CQorCamDLL();
    CQorCamDLL(const CQorCamDLL&) = delete;
    CQorCamDLL& operator=(const CQorCamDLL&) = delete;

    /// Records the calling thread's code; 0 erases its entry.
    void SetLastErrorCode(std::uint32_t code);
    /// The calling thread's code, 0 when none.
    std::uint32_t GetLastErrorCode() const;

    /// Taken first by every export that opens, closes, lists or reloads.
    std::recursive_mutex& LibraryLock() { return libraryLock_; }
    /// Taken second; guards the producer list and the interface-lock array.
    std::recursive_mutex& ProducerListLock() { return producerListLock_; }

    /// The structure version the client passed (0 until then).
    std::uint32_t& StructVersion() { return structVersion_; }

    /// Loads the producers of the table not loaded yet and refreshes every
    /// producer's interfaces; both locks are held by the caller. Returns how
    /// many producers were loaded by this call.
    std::size_t CreateDrvList();

    /// Called by the interface threads.
    void UserBusEvent();
    void PowerUpEvent(CGenTL* producer);

    /// Every interface lock, entered in array order under the producer-list
    /// lock and left in the reverse order when this goes (also when an
    /// exception passes). Made with the library lock held.
    class AllInterfacesLocked {
    public:
        explicit AllInterfacesLocked(CQorCamDLL& library);
        ~AllInterfacesLocked();
        AllInterfacesLocked(const AllInterfacesLocked&) = delete;
        AllInterfacesLocked& operator=(const AllInterfacesLocked&) = delete;

    private:
        std::vector<std::recursive_mutex*> held_;
    };

    /// Fills the camera list (library lock held); false with the last error
    /// set when the list's room is too small.
    bool GetList(QORCAM_LIST* list);
    /// The opening walks (library lock held): every device list refreshed,
    /// then the producers of the asked type (0 any) tried in list order and
    /// their interfaces in order until one opens a device. The handle is set
    /// (null when nothing opened); on failure the last error is 3 (no
    /// producer of the kind, or a watch open by number meeting a USB3 Vision
    /// producer), 4 (the device is open elsewhere) or 5.
    bool OpenCamera(HCAMERA* out, std::uint32_t urlIndex, std::uint32_t type, bool readOnly);
    bool OpenCameraByNumber(HCAMERA* out, std::uint64_t number, std::uint32_t urlIndex, std::uint32_t type,
                            bool readOnly);
    bool OpenCameraByUserName(HCAMERA* out, const std::string& name, std::uint32_t urlIndex,
                              std::uint32_t type, bool readOnly);
    /// The first device of any producer that can be opened exclusively, as a
    /// register-access object; 5 when none.
    bool OpenCameraPort(HCAMERA* out);
    /// Destroys every camera of every interface (register ports stay).
    void CloseAll();

    /// Stores the system callback and its context; a null callback stops the
    /// calls without stopping the thread.
    void SetCallBack(void* context, QORCAM_SYSTEMCALLBACK callback);
    /// Returns once a call of the system callback running now has ended, so
    /// that the callback and context a SetCallBack replaced are out of use
    /// (the application may free the context then). At once on the callback
    /// thread itself, which is inside that call. Called without the library
    /// lock, which the callback may take.
    void WaitForCallbackCall();

    /// Stand-alone conversion objects.
    bool CreateConvHandle(HCTBL* out, const QORCAM_COLORCONVMODE& mode, const QORCAM_COLORVALUE& value);
    void CloseConvHandle(HCTBL handle);
    void CloseAllConvHandle();
    /// The stand-alone conversion object behind handle, or null when the
    /// handle names none of the list (so a stale handle is refused).
    conversion::CConv* FindConvHandle(HCTBL handle);

    const std::vector<std::unique_ptr<CGenTL>>& Producers() const { return producers_; }
    std::size_t InterfaceLockCount() const { return interfaceLocks_.size(); }

private:
    template <class Form> bool Walk(HCAMERA* out, std::uint32_t type, bool readOnly, int kind, Form form);
    void UserCallBack_Thread();
    void RebuildInterfaceLocks();

    std::recursive_mutex producerListLock_;
    std::recursive_mutex libraryLock_;
    std::vector<std::unique_ptr<CGenTL>> producers_;
    std::vector<std::unique_ptr<conversion::CConv>> convHandles_;
    // Guards the list against the conversions, which run without the library lock.
    std::mutex convListLock_;
    mutable std::mutex lastErrorLock_; // innermost lock of the library
    std::map<std::uint32_t, std::uint32_t> lastErrors_;
    std::atomic<QORCAM_SYSTEMCALLBACK> callback_{nullptr};
    std::atomic<void*> context_{nullptr};
    std::mutex callbackCall_; // held by the callback thread while it calls the application
    os::Event stop_{os::ResetMode::Manual};
    os::Event busReset_{os::ResetMode::Auto};
    os::Event powerUp_{os::ResetMode::Auto};
    std::vector<std::recursive_mutex*> interfaceLocks_;
    std::uint32_t structVersion_ = 0;
    std::atomic<CGenTL*> firstProducer_{nullptr};
    std::unique_ptr<os::Thread> callbackThread_;
    // The callback thread's own flag, set when this object goes from inside its call of the
    // application (QORCAM_FreeLibrary in the system callback): the thread then touches nothing of it.
    bool* destroyedInCallback_ = nullptr;
};

/// The producer table: GigE Vision and USB3 Vision, ended by type 0xFFFFFFFF.
extern const ProducerEntry kProducerTable[];

} // namespace qorcam::library
