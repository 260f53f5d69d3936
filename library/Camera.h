// Camera: CCamera, an opened camera with its GenTL handles, its node map and its state flags.
#pragma once

#include "Base.h"
#include "GenTL.h"
#include "QorCam.h"
#include "description/DescriptionLoader.h"
#include "description/RemoteDevice.h"
#include "os/Event.h"
#include "os/Thread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
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
class Image_Buffer;

/// A completed buffer as the stream-information decoders read it.
struct BufferView {
    const std::uint8_t* memory;
    std::uint32_t size;       ///< bytes of memory
    std::uint32_t infoOffset; ///< where the block's stream information lies
    std::uint32_t payload;    ///< the payload size the buffer was made for
};
class CInterface;

/// An opened camera (the object behind HCAMERA), of the class that follows
/// its producer's type: CCameraGigE, CCameraUSB or CCameraIIDC.
///
/// Guarantees: a constructed camera holds the device's remote port, its data
/// streams 0 and 1 opened, and a node map built from its description over a
/// port that forwards every access to the producer (read-only for a watch
/// camera). A constructor that fails throws a CErrorText of at most 127
/// characters ("CreateEvent Error", "DataStreams Error", the description
/// loader's texts, the producer's error text or "Other Error") and leaves
/// only the device open, for the caller to close. The destructor closes the
/// streams, the node map and the device, and leaves the interface's list.
/// The camera lock is taken by every camera export around its work; the
/// present flag may be refreshed from any thread.
class CCamera : public CBase, public description::IRemoteDevice {
public:
    CCamera(CGenTL& producer, CInterface& iface, std::string id, DEV_HANDLE device, std::uint32_t urlIndex,
            bool watch);
    ~CCamera() override;

    /// State conditions of CheckState, tested in this order.
    enum : std::uint32_t {
        kPresent = 0x01,
        kWatch = 0x02,
        kNormal = 0x04,
        kResources = 0x08,
        kNoResources = 0x10,
        kStarted = 0x20,
        kNotStarted = 0x40,
        kMulticast = 0x80,
    };
    /// True when every condition of mask holds; else the first failing one's
    /// code becomes the caller's last error (5, 6, 6, 9, 8, 11, 10, 11).
    bool CheckState(std::uint32_t mask);

    /// Called by every camera export before it takes the camera lock.
    virtual void BeforeAccess() {}
    /// Stream resources: "TLParamsLocked" set (normal cameras), the
    /// new-buffer events of both streams registered, acquisition started on
    /// both, the pixel format classified and the image size read. False with
    /// the last error set (7 node failures, 99 producer failures, traced);
    /// nothing stays allocated then.
    virtual bool AllocResources();
    /// Undoes AllocResources; the image records stay. True.
    virtual bool ReleaseResources();
    /// Opens the producer's reception and starts the camera's acquisition
    /// (normal cameras); a conversion object is made first when there is
    /// none. False with the last error set (10 already started, 7 the
    /// camera's start failed, 99 no conversion object).
    bool ImageStart();
    /// Image records and requests on stream 0. Each returns false with the
    /// last error set: 15 an image not of this camera, 12 an image in use by
    /// a request, 1 an image of other sizes or without a request, 13 no frame
    /// in time, 14 a frame that failed or requests aborted, 99 producer
    /// failures (traced), 7 node failures. ImageComplete releases the camera
    /// lock (held once by the caller) only while it waits. Any number of
    /// threads may wait for images of one camera: one of them at a time takes
    /// the stream's completions from the producer and files each under its
    /// image, and the others wait for that filing, so each collects its own
    /// image or ends at its own time-out. A wait on a camera whose resources
    /// go or which is closed meanwhile ends with 13.
    bool ImageAlloc(QORCAM_IMAGE** image);
    bool ImageFree(Image_Buffer& image);
    bool ImageFreeAll();
    bool ImageReq(Image_Buffer& image);
    bool ImageComplete(Image_Buffer& image, std::uint32_t timeout, QORCAM_IMAGEDATAINFO* info);
    /// Starts the streaming thread that hands every frame of stream 0 to
    /// callback (count producer buffers kept queued); false with 12 when a
    /// callback is registered, 99 when the thread can't run. Returns once the
    /// thread has started (or ended at once, its buffers refused).
    bool SetImageCallBack(void* context, QORCAM_IMAGECALLBACK callback, std::uint32_t count, bool info);
    /// Stops the streaming thread and clears the registration; nothing
    /// without one. From inside the callback it returns at once: the thread
    /// ends, and the registration goes, once the callback returns.
    void StopImageCallBack();

    /// Frame-start requests on stream 1: an empty buffer queued, and its
    /// completion waited for (errors as ImageComplete's; every completion on
    /// the stream completes one waiting request).
    bool VSyncReq(void** handle);
    bool VSyncComplete(void* handle, std::uint32_t timeout);
    /// Takes every request back from the producer; the records stay.
    void ImageReqAbortAll();
    /// Fills the fields of info that the camera's kind describes, from the
    /// buffer and its completion status and byte count.
    virtual void DecodeImageDataInfo(const BufferView& buffer, std::uint32_t status, std::uint32_t bytes,
                                     QORCAM_IMAGEDATAINFO* info);
    /// Whether a completed buffer holds a whole image: a completion status
    /// of success, and for cameras that report lost data, nothing missing.
    virtual bool WholeImage(const BufferView& buffer, std::uint32_t status, std::uint32_t bytes) const;
    /// Called before an image's memory is first announced to stream 0.
    virtual void BeforeAnnounce(const Image_Buffer&) {}

    /// Whether another process streams this camera to a multicast group
    /// (sets the multicast flag); false without an error for cameras that
    /// have no such stream, false with 7 when the camera can't be asked.
    virtual bool QueryMulticast(bool& multicast);
    /// Passes the command time-out (ms, 0xFFFFFFFF endless) to the producer's
    /// device module; false (99, traced) when the producer refuses it.
    bool SetCmdTimeOut(std::uint32_t timeout);
    /// Stops the camera's acquisition (normal cameras, failures ignored) and
    /// closes the reception; false (11) when it was not started.
    bool ImageStop();
    /// Fills the common camera record; false (last error 99, producer text traced) when a call fails.
    bool CameraInfo(QORCAM_CAMERAINFO* info);
    /// Reads the device's reachability into the present flag.
    void SetVisibleFlag();

    /// Replaces the conversion object (conversion lock held inside); false,
    /// and no conversion object left, when the new one can't be made.
    bool ConvMode(const QORCAM_COLORCONVMODE& mode, const QORCAM_COLORVALUE& value);
    /// The conversion object, or null; use it with the conversion lock held.
    conversion::CConv* Conv() { return conv_.get(); }
    /// Converts one image of the camera's classified format with its
    /// conversion object, under the conversion lock: 0, or the code (99 no
    /// conversion object, or the conversion's own). An unknown format
    /// converts nothing and succeeds.
    std::uint32_t Convert(const std::uint8_t* src, std::uint8_t* dst, std::uint32_t width,
                          std::uint32_t height, std::uint32_t endianMode);
    /// The pixel format as classified when the stream resources were made:
    /// conversion id (-1 unknown), Bayer phase and significant bits.
    std::int32_t FormatId() const { return formatId_; }
    std::uint32_t BayerPhase() const { return bayerPhase_; }
    std::uint32_t PayloadSize() const { return payloadSize_; }
    std::uint32_t BufferSize() const { return bufferSize_; }
    std::uint32_t InfoOffset() const { return infoOffset_; }
    std::uint32_t FormatBits() const { return formatBits_; }
    std::uint32_t ImageWidth() const { return width_; }
    std::uint32_t ImageHeight() const { return height_; }
    /// Byte order of 16-bit samples: little endian but for IEEE 1394 cameras.
    std::uint32_t EndianMode() const;

    std::recursive_mutex& Lock() { return lock_; }
    /// Set, under the camera lock, once the camera is closed; its exports then refuse the handle.
    bool IsClosed() const { return closed_.load(); }
    std::mutex& ConvLock() { return convLock_; }
    bool IsPresent() const { return present_.load(); }
    bool IsWatch() const { return watch_; }
    bool IsStarted() const { return started_; }
    bool HasResources() const { return newBufferEvent_[0] != nullptr; }
    CGenTL& Producer() { return producer_; }
    CInterface& Interface() { return interface_; }
    PORT_HANDLE Port() const { return port_; }
    DEV_HANDLE Device() const { return device_; }
    DS_HANDLE Stream(int index) const { return stream_[index]; }
    genapi::CNodeMapRef* NodeMap() { return binding_.nodeMap.get(); }
    const description::NodeMapBinding& Binding() const { return binding_; }

    // The remote device as the description loader and the node map's port reach it.
    std::int32_t GetNumPortURLs(std::uint32_t& count) override;
    std::int32_t GetPortURLInfo(std::uint32_t index, std::int32_t infoCommand, void* buffer,
                                std::size_t& size) override;
    std::int32_t ReadPort(std::uint64_t address, void* buffer, std::size_t& size) override;
    std::int32_t WritePort(std::uint64_t address, const void* buffer, std::size_t& size) override;
    std::string LastErrorText() override;
    /// Refreshes the present flag and returns it.
    bool RefreshPresence() override;

protected:
    /// The camera's part of a close, under the camera lock: marks it closed,
    /// stops its images and its streaming thread and releases its stream
    /// resources (which ends the waits in the producer), then wakes the
    /// waiters for images. The object stays until its last call has ended.
    void Shutdown() override;
    /// One device-info answer into buffer of capacity size (zeroed first); false when the call fails.
    bool DeviceInfo(std::int32_t command, void* buffer, std::size_t size);
    /// Writes a 4-byte stream-module register of data stream `index`; true when the producer took it.
    bool WriteStreamRegister(int index, std::uint64_t address, std::uint32_t value);
    /// Reads "PayloadSize" past the node cache; false (7) when it can't be read.
    bool ReadPayloadSize();
    /// Ends the camera's streaming before its class's part goes: stop, then release.
    void StopAndRelease();
    /// Traces the producer's error text under name and sets the last error 99; false.
    bool ProducerFailed(const char* name);
    /// One wait for stream `index`'s new-buffer event, the camera lock
    /// released meanwhile: the time left of timeout since begin (0 when
    /// spent), the result and the buffer the event names.
    GC_ERROR WaitNewBuffer(int index, std::uint32_t timeout, std::chrono::steady_clock::time_point begin,
                           std::uint64_t& remaining, BUFFER_HANDLE& buffer);
    /// Waits, the camera lock released meanwhile, until the waiter that reads
    /// stream 0 has filed a completion or stopped reading, or the camera is
    /// closed; false, without waiting, once timeout (ms since begin,
    /// 0xFFFFFFFF endless) is spent.
    bool WaitForReader(std::uint32_t timeout, std::chrono::steady_clock::time_point begin);

    void SetMulticast(bool multicast) { multicast_ = multicast; }
    /// Revokes every buffer announced on stream 0 (the image maps) and empties the maps.
    void RevokeAllBuffers();

    std::uint32_t payloadSize_ = 0;
    std::uint32_t bufferSize_ = 0;
    std::uint32_t infoOffset_ = 0;

    /// A text answer read into a 1024-byte buffer and copied into field, up to its size.
    bool TextInfo(std::int32_t command, char* field, std::size_t size);
    /// Traces the producer's error text under name and sets the last error 99.
    void InfoFailed(const char* name);

private:
    void OpenStreams();
    void LoadNodeMap();
    void CloseStreams();
    void ReleaseNodeMap();
    /// Stops both streams, unregisters their events and unlocks the transport parameters.
    void UndoAllocation();

    std::recursive_mutex lock_;
    std::mutex convLock_;
    CGenTL& producer_;
    CInterface& interface_;
    std::string id_;
    DEV_HANDLE device_;
    std::uint32_t urlIndex_;
    std::unique_ptr<conversion::CConv> conv_;
    description::NodeMapBinding binding_;
    PORT_HANDLE port_ = nullptr;
    DS_HANDLE stream_[2] = {nullptr, nullptr};
    EVENT_HANDLE newBufferEvent_[2] = {nullptr, nullptr};
    std::atomic<bool> present_{true};
    std::atomic<bool> closed_{false};
    // A waiter in ImageComplete takes stream 0's completions from the producer;
    // the others wait on requestFiled_ (with the camera lock).
    bool reading_ = false;
    std::condition_variable_any requestFiled_;
    const bool watch_;
    bool started_ = false;
    bool multicast_ = false;
    void Stream_Thread();
    /// True on the streaming thread (inside the image callback).
    bool OnStreamThread() const;
    /// Ends the streaming thread and waits for it; the callback stays
    /// registered. On the streaming thread itself it only asks it to end.
    void EndStreamThread();
    /// Revokes the image-callback buffers of stream 0.
    void RevokeCallbackBuffers();

    QORCAM_IMAGECALLBACK callback_ = nullptr;
    void* callbackContext_ = nullptr;
    std::uint32_t bufferCount_ = 0;
    bool infoFlag_ = false;
    os::Event streamStop_{os::ResetMode::Manual};
    // Set with streamStop_ and cleared with it: the stream thread looks at it per image without a
    // system call.
    std::atomic<bool> streamStopping_{false};
    os::Event streamStarted_{os::ResetMode::Manual};
    os::Event streamEnded_{os::ResetMode::Manual};
    std::unique_ptr<os::Thread> streamThread_;
    // Announced by the streaming thread, used by it alone while it runs, and
    // kept after it ends until the resources go or the next session starts.
    std::vector<BUFFER_HANDLE> callbackBuffers_;
    // Resources released from inside the callback: the thread revokes its buffers at its end.
    std::atomic<bool> releaseAsked_{false};
    bool removedInCallback_ = false;
    std::vector<std::unique_ptr<Image_Buffer>> images_;
    std::map<std::uint8_t*, BUFFER_HANDLE> idle_, queued_, done_;
    std::vector<BUFFER_HANDLE> vsyncIdle_, vsyncQueued_, vsyncDone_;
    std::atomic<bool> transferError_{false};
    std::int32_t formatId_ = -1;
    std::uint32_t bayerPhase_ = 0;
    std::uint32_t formatBits_ = 0;
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
};

/// The camera number of a device identifier (the decimal number behind its first "::").
std::uint64_t CameraNumberOf(const std::string& id);

} // namespace qorcam::library
