// An event object with a queue of entries of one kind, filled by Push and emptied by EventGetData.
#pragma once

#include "gentl/CEventObj.h"
#include "gentl/EventEntries.h"
#include "gentl/InfoFillers.h"

#include <deque>
#include <memory>
#include <stdexcept>

namespace GenICam::Client {

// Entries come out in the order they were pushed. The queue is inactive at construction and between
// Stop and Start; entries pushed while inactive are dropped. The queue owns its entries: taken,
// flushed and left-over entries are destroyed by it. Thread-safe.
template <class TEntry> class CEventQueue : public CEventObj {
public:
    ~CEventQueue() override = default;

    bool GetData(void* buffer, size_t* size, uint64_t timeout) override {
        if (!size) throw std::invalid_argument("Invalid Size");
        std::unique_lock<std::mutex> held(m_lock);
        if (m_entries.empty()) {
            ResetSignal();
            if (!WaitSignal(held, timeout)) return false;
            if (!m_active) return true;
            if (m_entries.empty()) throw std::runtime_error("Empty event queue but signaled");
        }
        const TEntry& entry = *m_entries.front();
        const size_t needed = entry.DataSize();
        if (*size == 0) {
            *size = needed;
            return false;
        }
        if (*size < needed) throw std::invalid_argument("Buffer too small");
        if (!buffer) throw std::invalid_argument("Invalid buffer");
        entry.CopyTo(buffer, size);
        m_entries.pop_front();
        return true;
    }

    void GetInfo(EVENT_INFO_CMD cmd, INFO_DATATYPE* type, void* buffer, size_t* size) override {
        if (cmd != EVENT_NUM_IN_QUEUE) return;
        int32_t count;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            count = static_cast<int32_t>(m_entries.size());
        }
        CopyInfoInt32(buffer, size, type, count);
    }

    void GetDataInfo(const void*, size_t, EVENT_DATA_INFO_CMD, INFO_DATATYPE*, void*, size_t*) override {
        throw std::invalid_argument("Invalid Parameter");
    }

    void Flush() override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_entries.clear();
        Signal();
    }

    // Ends every EventGetData waiting on this queue (GC_ERR_ABORT); queued entries stay.
    void Kill() override {
        std::lock_guard<std::mutex> guard(m_lock);
        KillWaits();
    }

    void Start() override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_active = true;
    }

    void Stop() override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_active = false;
    }

    void Push(std::unique_ptr<TEntry> entry) {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_active) return;
        m_entries.push_back(std::move(entry));
        Signal();
    }

    bool IsActive() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_active;
    }

private:
    std::deque<std::unique_ptr<TEntry>> m_entries;
    bool m_active = false;
};

// Errors of a data stream's or device's own threads (EVENT_ERROR).
class CEventError : public CEventQueue<ErrorEventEntry> {};

// An interface's bus events (EVENT_CUSTOM_BUS).
class CEventBusEvent : public CEventQueue<BusEventEventEntry> {};

} // namespace GenICam::Client
