// HandleCore: the client side of one device connection: requests in flight and their answers.
#pragma once

#include "devio/DeviceHandle.h"
#include "devio/MessageReader.h"
#include "devio/Overlapped.h"
#include "devio/Protocol.h"
#include "devio/SpinGauge.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <unordered_map>
#include <vector>

namespace qorcam::devio::detail {

/// One connection of a DeviceHandle, shared with the Overlapped records of
/// its requests so that a record can always find (and forget) its request.
///
/// Guarantees: a request's first answer (pending or completed) reaches the
/// thread that started it; output bytes are copied into the caller's buffer,
/// never beyond the length given with the request, and only while the
/// request's record still wants them; when the connection ends every request
/// still in flight completes (STATUS_CANCELLED after Close, else
/// STATUS_DEVICE_NOT_CONNECTED).
class HandleCore {
public:
    static std::shared_ptr<HandleCore> Connect(std::string_view name, NtStatus* status);
    ~HandleCore();
    HandleCore(const HandleCore&) = delete;
    HandleCore& operator=(const HandleCore&) = delete;

    /// finalOnly: the caller waits for the final status anyway, so the
    /// service sends no "pending" first answer, and this returns once the
    /// request has completed.
    /// posted (with finalOnly): returns STATUS_PENDING once the request is
    /// sent, without waiting for any answer; its result, also one given at
    /// once, arrives in the record.
    NtStatus Submit(const std::shared_ptr<HandleCore>& self, std::uint32_t kind, std::uint32_t code,
                    const void* input, std::size_t inputLength, void* output, std::size_t outputLength,
                    const RegionSpan* region, Overlapped& overlapped, bool finalOnly = false,
                    bool posted = false);
    /// Posts every request as Submit with posted does, in one write: the
    /// service reads them together. Each one's status (STATUS_PENDING once
    /// sent, or why it was refused unsent) goes to its PostedRequest.
    void SubmitPosted(const std::shared_ptr<HandleCore>& self, std::uint32_t kind,
                      std::span<PostedRequest> requests);
    NtStatus Result(Overlapped& overlapped, std::uint64_t* bytes, bool wait);
    /// Waits until the request has completed or stop is true (then
    /// STATUS_PENDING); WakeWaiters makes a waiter look at stop again.
    /// With a deadline, returns STATUS_PENDING once it has passed, too.
    NtStatus Result(Overlapped& overlapped, std::uint64_t* bytes, const std::atomic<bool>& stop,
                    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max());
    void WakeWaiters();
    void CancelThread(std::thread::id thread);
    /// Asks the service to cancel the record's request; false when it has none in flight here.
    bool Cancel(Overlapped& overlapped);
    void Forget(Overlapped& overlapped);
    NtStatus RegisterRegion(const Region& region, std::uint32_t* regionId);
    NtStatus UnregisterRegion(std::uint32_t regionId);
    void Close();
    bool IsOpen() const;
    /// A silent record for one synchronous call (made when none is spare),
    /// and its return once the call is over.
    std::unique_ptr<Overlapped> TakeRecord();
    void GiveBack(std::unique_ptr<Overlapped> record);

private:
    enum class FirstAnswer { None, Pending, Completed };
    struct Entry {
        Overlapped* overlapped;
        std::uint8_t* output;
        std::size_t outputLength;
        std::thread::id thread;
        FirstAnswer* first;
    };

    // How long Close waits for the service to hand back cancelled requests.
    static constexpr int kCloseWaitMs = 5000;
    // Silent records kept for synchronous calls (one per thread calling at once).
    static constexpr std::size_t kSpareRecords = 16;
    // How often the reader thread looks at the socket while it has no watch of it.
    static constexpr int kUnwatchedLookMs = 10;

    explicit HandleCore(int fd)
        : fd_(fd), inbox_(sizeof(wire::CompletionBody) + wire::kMaxInlineOutputLength) {}
    // The two epoll sets that watch the socket; false when the system gives none.
    bool SetUpWatches();
    void ReaderLoop();
    // Waits (mutex_ held through lock) until done() holds. When no other
    // thread is reading the socket, the waiting thread reads it itself and
    // hands out what arrives as the reader thread would, so its own answer
    // reaches it without a hop through the reader thread. It first polls the
    // socket for up to `poll` before it sleeps; returns true when done() came
    // about while it polled.
    // With a deadline it sleeps no longer than until then; done() must hold once it has passed.
    template <class Done>
    bool WaitFor(std::unique_lock<std::mutex>& lock, Done done,
                 std::chrono::nanoseconds poll = std::chrono::nanoseconds::zero(),
                 std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max());
    // The reader thread's watch of the socket, taken away while a waiting
    // thread polls the socket (an arrival would wake the reader thread, as no
    // thread sleeps in waitWatch_ then) and given back before it lets go.
    bool UnwatchForReader();
    void RewatchForReader();
    // Reads once into the inbox and hands out every whole message; *more
    // tells whether the read may have left bytes in the socket.
    enum class ReadResult { Data, Empty, End };
    ReadResult ReadAndHandle(bool* more);
    // Handles every whole message the inbox holds; false when one is
    // malformed. receiveMutex_ held.
    bool HandleReceived();
    bool HandleMessage(const Message& message);
    void CompleteLocked(Entry& entry, NtStatus status, std::uint64_t information, const std::uint8_t* data,
                        std::size_t length);
    static void Finish(Overlapped& overlapped, NtStatus status);
    // Checks a request, readies its record and enters it among those in flight (its id in the record's
    // id_, its request record in *body): STATUS_PENDING, or the status it was refused with (the record
    // then finished with it). `first` receives its first answer (null: nobody waits for it).
    NtStatus Enter(const std::shared_ptr<HandleCore>& self, std::uint32_t kind, std::uint32_t code,
                   const void* input, std::size_t inputLength, void* output, std::size_t outputLength,
                   const RegionSpan* region, Overlapped& overlapped, FirstAnswer* first,
                   wire::RequestBody* body);
    // Writes whole request messages; a failed write ends the connection.
    void SendRequests(std::span<const std::uint8_t> messages);
    void SendFailed();
    bool Send(std::uint16_t type, std::uint64_t id, std::span<const std::uint8_t> a = {},
              std::span<const std::uint8_t> b = {}, int passFd = -1, std::uint16_t flags = 0);

    int fd_;
    // Arrivals on the socket wake a thread sleeping in waitWatch_ (the one
    // waiting thread that reads the socket itself) before the reader thread
    // sleeping in readerWatch_: both watch it exclusively, waitWatch_ first,
    // so the reader thread wakes only when no waiting thread sleeps there.
    // wakeUp_ (in waitWatch_ too) makes that thread look at its wait again.
    int waitWatch_ = -1;
    int readerWatch_ = -1;
    int wakeUp_ = -1;
    // In readerWatch_: makes the reader thread look again (its watch of the
    // socket could not be given back; it then reads at a slow pace until it can).
    int readerWake_ = -1;
    std::atomic<bool> readerUnwatched_{false};
    // Under mutex_: how long synchronous requests took, per control code, to
    // decide whether the next one polls for its answer before it sleeps.
    std::unordered_map<std::uint32_t, SpinGauge> gauges_;
    // Whoever reads the socket holds receiveMutex_: the reader thread, or a
    // thread waiting for its own answer. The inbox is used only under it.
    std::mutex receiveMutex_;
    MessageReader inbox_;
    std::thread reader_;
    std::mutex closeMutex_;
    std::mutex sendMutex_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    // Under mutex_: how often the reader thread let go of the socket to sleep until more comes. A
    // waiting thread that found the reader thread reading takes the socket over after it.
    std::uint64_t readerIdle_ = 0;
    std::unordered_map<std::uint64_t, Entry> entries_;
    std::unordered_map<std::uint32_t, std::uint64_t> regionSizes_;
    std::unordered_map<std::uint32_t, NtStatus> regionAnswers_;
    std::mutex spareMutex_;
    std::vector<std::unique_ptr<Overlapped>> spare_;
    std::uint64_t nextId_ = 1;
    std::uint32_t nextRegion_ = 1;
    bool connected_ = true;
    bool closing_ = false;
    bool closed_ = false;
};

} // namespace qorcam::devio::detail
