// DescriptionLoader: finds, fetches and unpacks a camera's description and builds its node map.
#pragma once

#include "description/CPort.h"
#include "description/RemoteDevice.h"

#include "genapi/NodeMap.h"

#include <memory>
#include <stdexcept>
#include <string>

namespace qorcam::description {

/// A failure of LoadNodeMap; what() is one of the loader's texts ("URL Error",
/// "Memory Alloc Error", ...) or the producer's own error text, which the
/// camera copies into the open's error text.
class DescriptionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// What the loader leaves in the camera: the node map, its port and the
/// standard features the library drives itself. The node map is destroyed
/// before the port (members go in reverse order), and never calls it then.
struct NodeMapBinding {
    std::unique_ptr<CPort> port;
    std::unique_ptr<genapi::CNodeMapRef> nodeMap;
    genapi::IInteger* Width = nullptr;
    genapi::IInteger* Height = nullptr;
    genapi::IInteger* PayloadSize = nullptr;
    genapi::IInteger* TLParamsLocked = nullptr;
    genapi::IEnumeration* PixelFormat = nullptr;
    genapi::ICommand* AcquisitionStart = nullptr;
    genapi::ICommand* AcquisitionStop = nullptr;
};

/// URL index that lets the loader look for an installed copy first.
constexpr uint32_t kUrlIndexInstalledFirst = 0xFFFFFFFF;
/// Largest description, device memory block or add-on the loader accepts.
constexpr uint64_t kMaxDescriptionBytes = 64ull * 1024 * 1024;

/// The folder of installed descriptions and add-ons:
/// <common application data>/Korvashdrevali/QorCam.
std::string DescriptionFolder();

/// Builds the node map of an opened camera into binding. Returns false only
/// for urlIndex kUrlIndexInstalledFirst when no installed copy exists (then
/// nothing was built; the caller retries with index 0). Throws
/// DescriptionError with the loader's texts; exceptions of the node map while
/// connecting or looking nodes up pass through. With watch set, no feature is
/// written and the port is read-only.
bool LoadNodeMap(IRemoteDevice& device, uint32_t urlIndex, bool watch, const std::string& folder,
                 NodeMapBinding& binding);

} // namespace qorcam::description
