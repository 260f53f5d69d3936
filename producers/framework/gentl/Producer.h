// What each producer plugs into the framework (its transport), and the producer-wide identity and state.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace GenICam::Client {

class CTL;
class CInterface;
class CInterfaceInfo;

// The one place where a producer differs from the framework: its identity texts, what it holds while
// initialised, which interfaces exist and how an interface is opened. Each producer defines
// GetTransport() and returns one object that lives as long as the process.
class CTransport {
public:
    virtual ~CTransport() = default;
    virtual std::string VendorName() const = 0;
    virtual std::string ModelName() const = 0;
    virtual std::string TLType() const = 0;
    virtual std::string DisplayName() const = 0;
    // Called by the first GCInitLib and the last GCCloseLib; never throw.
    virtual void InitLib() {}
    virtual void CloseLib() {}
    // The interfaces that exist now, in order. May throw; the system module then keeps its old list.
    virtual std::vector<std::unique_ptr<CInterfaceInfo>> BuildInterfaceList() = 0;
    // Opens the interface described by `info` (a copy the interface then owns) for system module `tl`.
    virtual CInterface* CreateInterface(std::unique_ptr<CInterfaceInfo> info, CTL* tl) = 0;
};

CTransport& GetTransport();

// Identity texts (each call returns a new text).
std::string GetProducerVendorName();
std::string GetProducerModelName();
std::string GetProducerTLType();
std::string GetProducerDisplayName();

// Full path of the producer's own file; empty when it cannot be found.
std::string GetProducerPath();
// The producer's file version: four 16-bit parts, the highest first.
uint64_t GetProducerVersion();
// Four decimal numbers joined by ".", highest part first ("1.2.3.4").
std::string FormatProducerVersion(uint64_t version);

// Initialisation count of GCInitLib / GCCloseLib. The transport holds its resources from the first
// GCInitLib to the last GCCloseLib; a GCCloseLib without a matching GCInitLib does nothing.
void ProducerInitLib();
void ProducerCloseLib();
uint32_t ProducerInitCount();

} // namespace GenICam::Client
