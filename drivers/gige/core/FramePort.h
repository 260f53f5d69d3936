// What the service's logic needs of one bound network adapter.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace qorcam::gige {

// The adapter end of the frame path: raw Ethernet frames out, the multicast
// filter, and the link figures that the binding queries. A frame handed to
// SendFrame is copied before the call returns.
class FramePort {
public:
    virtual ~FramePort() = default;
    virtual bool SendFrame(std::span<const uint8_t> frame) = 0;
    virtual bool SetMulticastList(const std::vector<std::array<uint8_t, 6>>& macs) = 0;
    // Maximum frame size (the MTU) and link speed in units of 100 bit/s; false
    // when the adapter can't tell.
    virtual bool QueryLink(uint32_t& maxFrameSize, uint32_t& linkSpeed) = 0;
    // Whether stream frames that reached the machine wait to be handed to the logic (the receive path
    // is behind): a time-out must not count their time as silence. Called under the logic's lock.
    virtual bool StreamBacklog() const { return false; }
    // Whether the stream receive path looks at the time-outs of blocks in progress itself (through
    // GigeDriver::CheckStreamTimeouts, as it waits for packets): the timer thread then leaves them to it
    // and is not woken for them.
    virtual bool TimesOutBlocks() const { return false; }
};

} // namespace qorcam::gige
