// NamedEvent: a named pipe whose pending bytes are the signalled state.
#include "os/NamedEvent.h"

#include "os/Descriptor.h"
#include "os/NamedObjectFile.h"
#include "os/Paths.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace qorcam::os {
namespace {

constexpr std::uint32_t kMagic = 0x56455451; // "QTEV"

struct Header {
    std::uint32_t magic;
    std::uint32_t manual;
};

// Takes every pending byte: however many Sets came before, one waiter wins.
bool Drain(int fd) {
    bool got = false;
    char buffer[512];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            got = true;
            if (static_cast<std::size_t>(n) < sizeof buffer) return got;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return got;
    }
}

} // namespace

NamedEvent::NamedEvent(std::string_view name, ResetMode mode, bool initiallySet) : mode_(mode) {
    const std::string escaped = detail::EscapeName(name);
    int createdFifo = -1;
    detail::NamedObjectFile file = detail::OpenNamedObject(name, ".event", sizeof(Header), [&](int fd) {
        // A new event (or one left by users that all died): a fresh pipe, and
        // the creator's reset mode recorded for every later opener. This runs
        // under the directory lock, so no opener sees the pipe missing.
        const std::string fifoPath = Paths::SharedObjects() + "/" + escaped + ".event.fifo";
        unlink(fifoPath.c_str());
        if (mkfifo(fifoPath.c_str(), 0600) != 0) return false;
        const Header header{kMagic, mode == ResetMode::Manual ? 1u : 0u};
        if (pwrite(fd, &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) return false;
        // Opened here, so that the initial signal is in place before any
        // other opener can look.
        createdFifo = open(fifoPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
        if (createdFifo < 0) return false;
        const char one = 1;
        if (initiallySet && write(createdFifo, &one, 1) != 1) return false;
        return true;
    });
    if (file.fd < 0) {
        if (createdFifo >= 0) close(createdFifo);
        error_ = file.error;
        return;
    }
    const std::string fifoPath = file.path + ".fifo";
    Header header{};
    if (pread(file.fd, &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header) ||
        header.magic != kMagic) {
        error_ = EINVAL;
        if (createdFifo >= 0) close(createdFifo);
        detail::CloseNamedObject(file.fd, file.path, fifoPath);
        return;
    }
    // Read and write ends in one descriptor: opening never waits for a peer,
    // and the pipe keeps its bytes while any user has it open.
    const int fifo =
        createdFifo >= 0 ? createdFifo : open(fifoPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    struct stat st {};
    if (fifo < 0 || fstat(fifo, &st) != 0 || !S_ISFIFO(st.st_mode)) {
        error_ = fifo < 0 ? errno : EINVAL;
        if (fifo >= 0) close(fifo);
        detail::CloseNamedObject(file.fd, file.path, fifoPath);
        return;
    }
    fifo_ = fifo;
    header_ = file.fd;
    mode_ = header.manual != 0 ? ResetMode::Manual : ResetMode::Auto;
    existed_ = file.existed;
    path_ = std::move(file.path);
}

NamedEvent::~NamedEvent() {
    Close();
}

NamedEvent::NamedEvent(NamedEvent&& other) noexcept {
    *this = std::move(other);
}

NamedEvent& NamedEvent::operator=(NamedEvent&& other) noexcept {
    if (this != &other) {
        Close();
        fifo_ = std::exchange(other.fifo_, -1);
        header_ = std::exchange(other.header_, -1);
        mode_ = other.mode_;
        existed_ = std::exchange(other.existed_, false);
        error_ = std::exchange(other.error_, 0);
        path_ = std::move(other.path_);
        other.path_.clear();
    }
    return *this;
}

void NamedEvent::Set() {
    if (fifo_ < 0) return;
    const char one = 1;
    // A full pipe (EAGAIN) is an event that is signalled already.
    ssize_t r;
    do {
        r = write(fifo_, &one, 1);
    } while (r < 0 && errno == EINTR);
}

void NamedEvent::Reset() {
    if (fifo_ >= 0) Drain(fifo_);
}

bool NamedEvent::IsSet() const {
    return detail::IsReadable(fifo_);
}

bool NamedEvent::TryAcquire() {
    if (mode_ == ResetMode::Manual) return IsSet();
    return fifo_ >= 0 && Drain(fifo_);
}

void NamedEvent::Close() {
    if (fifo_ >= 0) close(fifo_);
    fifo_ = -1;
    if (header_ >= 0) detail::CloseNamedObject(header_, path_, path_ + ".fifo");
    header_ = -1;
    existed_ = false;
}

} // namespace qorcam::os
