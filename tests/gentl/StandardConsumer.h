// A GenTL consumer written from the standard alone (see StandardGenTL.h): it finds a camera, reads its
// description through the port URL, builds a node map over the remote port and streams into buffers of
// its own memory and buffers the producer allocates. Used with both producers.
#pragma once

#include "StandardGenTL.h"
#include "genapi/NodeMap.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace qorcam::gentltest {

// A module's or the camera's port as a node map sees it: GCReadPort / GCWritePort.
class ModulePort : public genapi::IPort {
public:
    ModulePort(StandardProducer& gc, Handle port) : gc_(gc), port_(port) {}
    void Read(void* buffer, int64_t address, int64_t length) override;
    void Write(const void* buffer, int64_t address, int64_t length) override;
    genapi::EAccessMode GetAccessMode() override { return genapi::RW; }

private:
    StandardProducer& gc_;
    Handle port_;
};

// The description a port's first URL names ("Local:<file>;<hex address>;<hex length>"), read from the
// port and unpacked when it is a zip file. Empty (with a test failure) when anything is wrong.
std::string ReadDescription(StandardProducer& gc, Handle port);

// The node map of a port's description, connected to that port under `portName`.
struct PortNodeMap {
    std::unique_ptr<ModulePort> port;
    std::unique_ptr<genapi::CNodeMapRef> map;
    genapi::INode* Node(const std::string& name) const { return map ? map->GetNode(name) : nullptr; }
    int64_t Integer(const std::string& name) const;
    std::string String(const std::string& name) const;
    void SetInteger(const std::string& name, int64_t value) const;
    void Execute(const std::string& name) const;
};
PortNodeMap LoadNodeMap(StandardProducer& gc, Handle port, const std::string& portName = "Device");

// One acquisition: `own` buffers in the consumer's memory and `allocated` buffers from the producer,
// all queued, the new-buffer event registered, `frames` buffers taken and queued again, then stop,
// flush, revoke and close of the stream. Checks every delivered buffer along the way. Buffers are as large
// as the camera's payload size, or `extra` bytes larger (a block must then still end at its last packet,
// whole, not at a time-out with the buffer's rest counted missing).
void StreamFrames(StandardProducer& gc, Handle device, const PortNodeMap& camera, int frames, size_t own,
                  size_t allocated, size_t extra = 0);

// The whole session of a consumer: the first interface, the first camera found on it (waiting a bounded
// time for it to be listed), its description and node map, two acquisitions with a close and a reopen
// of the camera in between; before them, the system, interface and device modules' own descriptions
// through the node map (`model` is the producer's model name).
void RunSession(const std::string& producer, const std::string& model);

} // namespace qorcam::gentltest
