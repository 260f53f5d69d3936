// CCameraIPSetup: the camera setup dialog's rules and its register writes, without its window.
#include "CameraIPSetup.h"

#include "AddressRules.h"
#include "CameraSearch.h"
#include "IpText.h"
#include "ProfileFile.h"

#include <chrono>
#include <cstring>
#include <strings.h>
#include <thread>

namespace qorcam::gigeconfig {

namespace {

struct RegisterPair {
    std::uint32_t address;
    std::uint32_t value;
};
// Registers a vendor's cameras need set with their address; row 2 is for "KORVASH" cameras.
const std::vector<RegisterPair> kVendorRegisters[3] = {{}, {}, {{0xE800, 1}, {0xE80C, 1}, {0xE808, 1}}};

constexpr std::uint32_t kReadReg = 1, kWriteReg = 3, kWriteMem = 4, kForceIp = 0;

} // namespace

CCameraIPSetup::CCameraIPSetup(const CameraEntry& camera, const NicEntry& nic, CameraSetupContext context)
    : camera_(camera), nic_(nic), context_(std::move(context)) {
    if (!context_.sleep)
        context_.sleep = [](unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    if (!context_.message) context_.message = [](const std::string&) {};
}

void CCameraIPSetup::DisableAll() {
    nameEnabled = ipEnabled = maskEnabled = gatewayEnabled = forceIpEnabled = okEnabled = false;
    for (bool& r : radioEnabled)
        r = false;
}

void CCameraIPSetup::OnInitDialog() {
    userName = camera_.userName;
    if (nic_.ip == 0) {
        DisableAll();
        return;
    }
    records_ = CProfileFile(context_.profilePath).Read();
    currentIp = ip = SwapBytes32(camera_.ip);
    mask = SwapBytes32(camera_.mask);
    gateway = SwapBytes32(camera_.gateway);

    const bool systemAdapter = nic_.windowsIp != 0;
    if (!systemAdapter) radioEnabled[0] = radioEnabled[3] = false;
    if (!(camera_.ipConfigOptions & 2)) radioEnabled[1] = radioEnabled[2] = false;
    if (!(camera_.ipConfigOptions & 1)) radioEnabled[3] = false;

    if (camera_.ipConfigCurrent & 1)
        initialMode_ = 3;
    else if (camera_.ipConfigCurrent & 2)
        initialMode_ = (!systemAdapter && HasCameraRecord(records_, nic_.mac, camera_.mac)) ? 2 : 1;
    else
        initialMode_ = 0;
    selectedMode = initialMode_;
    ipEnabled = maskEnabled = initialMode_ >= 2;
    gatewayEnabled = initialMode_ == 3;
    forceIpEnabled = okEnabled = false;

    const std::uint32_t wider = WiderMask(nic_.mask, camera_.mask);
    const bool outside = (camera_.ip & wider) != (nic_.ip & wider);
    if (systemAdapter) {
        if (outside) {
            nameEnabled = ipEnabled = maskEnabled = gatewayEnabled = false;
            for (bool& r : radioEnabled)
                r = false;
            forceIpEnabled = true;
        } else if (initialMode_ == 3) {
            ReadPersistentIp();
        }
        radioEnabled[2] = false;
    } else {
        if (initialMode_ == 0 || initialMode_ == 3) {
            if (outside) {
                nameEnabled = radioEnabled[1] = radioEnabled[2] = false;
                forceIpEnabled = true;
            } else {
                selectedMode = 1;
                okEnabled = true;
            }
        }
        radioEnabled[0] = radioEnabled[3] = false;
        ipEnabled = maskEnabled = gatewayEnabled = false;
    }
}

void CCameraIPSetup::OnModeChanged(std::uint32_t mode) {
    if (mode > 3) return;
    selectedMode = mode;
    if (mode <= 1) {
        ipEnabled = maskEnabled = gatewayEnabled = false;
        ip = currentIp;
        mask = SwapBytes32(camera_.mask);
        gateway = SwapBytes32(camera_.gateway);
    } else if (mode == 2) {
        ipEnabled = maskEnabled = true;
        gatewayEnabled = false;
        ip = SwapBytes32(nic_.ip);
        mask = SwapBytes32(nic_.mask);
        gateway = 0;
    } else {
        ipEnabled = maskEnabled = true;
        gatewayEnabled = nic_.windowsIp != 0;
        ReadPersistentIp();
    }
    okEnabled = true;
}

void CCameraIPSetup::ReadPersistentIp() {
    auto device = context_.openDevice ? context_.openDevice() : nullptr;
    if (!device) {
        context_.message("GigE Driver Open Error");
        return;
    }
    const std::uint32_t addresses[3] = {0x064C, 0x065C, 0x066C};
    std::uint32_t* fields[3] = {&ip, &mask, &gateway};
    std::uint32_t* remembered[3] = {&persistentIp_, &persistentMask_, &persistentGateway_};
    for (int i = 0; i < 3; ++i) {
        GvcpCommandBlock block = CameraCommand(camera_, kReadReg, addresses[i], 4, *context_.ids);
        if (device->SendNicCmd(block) != 0) {
            context_.message("Camera Read Register Error");
            return;
        }
        if (block.length == 4) {
            std::uint32_t value = 0;
            std::memcpy(&value, block.data, 4);
            *fields[i] = *remembered[i] = value;
        }
    }
}

void CCameraIPSetup::SaveProfileForCamera(bool add) {
    // The file is read again for the change: the records read when the dialog
    // opened may be old by now (the driver select tool writes the same file).
    const bool written = CProfileFile(context_.profilePath).Update([&](ProfileRecords& records) {
        SetCameraRecord(records, nic_.mac, camera_.mac, add, SwapBytes32(ip), SwapBytes32(mask));
        records_ = records;
        return true;
    });
    if (!written) context_.message("Profile File Write Error");
}

bool CCameraIPSetup::OnOK() {
    nameChanged = writeNeeded = persistent = configuration = false;
    nameChanged = userName != camera_.userName;
    const std::uint32_t from = initialMode_, to = selectedMode;
    if ((to == 2 || to == 3) && !IsValidIpSetting(ip, mask, gateway)) {
        context_.message("Input IP Address Error");
        return false;
    }
    bool addRecord = false, removeRecord = false;
    auto set = [&](bool g, bool w, bool p) {
        configuration = configuration || g;
        writeNeeded = writeNeeded || w;
        persistent = persistent || p;
    };
    if (from == to) {
        if (to == 2 && !(ip == persistentIp_ && mask == persistentMask_)) {
            addRecord = true;
            set(false, true, false);
        } else if (to == 3) {
            if (ip != persistentIp_ || mask != persistentMask_ || gateway != persistentGateway_)
                set(false, true, true);
            if (ip != currentIp) set(false, true, false);
        }
    } else if (to == 3) {
        removeRecord = from == 2;
        set(true, true, true);
    } else if (to == 2) {
        addRecord = true;
        set(from != 1, true, false);
    } else if (from == 2) {
        removeRecord = true;
        set(to == 0, true, false);
    } else {
        set(true, true, false);
    }
    if (addRecord)
        SaveProfileForCamera(true);
    else if (removeRecord)
        SaveProfileForCamera(false);

    if (nameChanged || writeNeeded)
        WriteCameraConfig(strcasecmp(camera_.vendorName.c_str(), "KORVASH") == 0 ? 2 : 0);
    return true;
}

bool CCameraIPSetup::WriteCameraConfig(int vendorRow) {
    auto device = context_.openDevice ? context_.openDevice() : nullptr;
    if (!device) {
        context_.message("GigE Driver Open Error");
        return false;
    }
    auto command = [&](std::uint32_t cmd, std::uint32_t address, std::uint16_t length) {
        return CameraCommand(camera_, cmd, address, length, *context_.ids);
    };
    auto send = [&](std::uint32_t address, std::uint32_t value) {
        GvcpCommandBlock block = command(kWriteReg, address, 4);
        std::memcpy(block.data, &value, 4);
        return device->SendNicCmd(block) == 0;
    };
    bool channelTaken = false;
    // A failed write ends the sequence; the control channel taken for it is
    // given back, else the camera stays locked to this host until its
    // heartbeat runs out.
    auto fail = [&](const char* text) {
        context_.message(text);
        if (channelTaken) send(0x0A00, 0);
        return false;
    };
    auto writeReg = [&](std::uint32_t address, std::uint32_t value) {
        return send(address, value) || fail("GigE Driver Write Register Error");
    };

    if (!writeReg(0x0A00, 2)) return false;
    channelTaken = true;
    if (nameChanged) {
        std::uint8_t name[16] = {};
        std::memcpy(name, userName.data(), std::min<std::size_t>(userName.size(), 15));
        if (camera_.writeMem) {
            GvcpCommandBlock block = command(kWriteMem, 0x00E8, 16);
            std::memcpy(block.data, name, 16);
            if (device->SendNicCmd(block) != 0) return fail("GigE Driver Write Memory Error");
        } else {
            for (int i = 0; i < 4; ++i) {
                const std::uint32_t value = std::uint32_t(name[4 * i]) << 24 |
                                            std::uint32_t(name[4 * i + 1]) << 16 |
                                            std::uint32_t(name[4 * i + 2]) << 8 | name[4 * i + 3];
                if (!writeReg(0x00E8 + 4 * i, value)) return false;
            }
        }
    }
    if (configuration && !writeReg(0x0014, selectedMode == 0 ? 4 : selectedMode == 3 ? 5 : 6)) return false;
    if (persistent && !(writeReg(0x064C, ip) && writeReg(0x065C, mask) && writeReg(0x066C, gateway)))
        return false;
    if (vendorRow >= 0 && vendorRow < 3)
        for (const auto& pair : kVendorRegisters[vendorRow])
            if (!writeReg(pair.address, pair.value)) return false;
    if (!writeReg(0x0A00, 0)) return false;
    channelTaken = false;
    if (persistent) device->SetCameraIp(camera_.mac.data(), SwapBytes32(ip));
    if (configuration || persistent || writeNeeded) {
        context_.sleep(100);
        GvcpCommandBlock block = command(kForceIp, 0, 0);
        block.ip = block.mask = block.gateway = 0;
        device->SendNicCmd(block, true);
    }
    return true;
}

void CCameraIPSetup::OnForceIp(const std::vector<CameraEntry>& cameras) {
    nameChanged = writeNeeded = persistent = configuration = false;
    auto address = ChooseForceIpAddress(nic_, cameras);
    auto device = address ? (context_.openDevice ? context_.openDevice() : nullptr) : nullptr;
    if (!address || !device) {
        context_.message(address ? "GigE Driver Open Error" : "ForceIP Set Error");
    } else {
        GvcpCommandBlock block = CameraCommand(camera_, kForceIp, 0, 0, *context_.ids);
        block.ip = *address;
        block.mask = nic_.mask;
        block.gateway = nic_.windowsIp ? nic_.gateway : 0;
        device->SendNicCmd(block, true);
        nameChanged = true;
    }
    context_.sleep(500);
}

} // namespace qorcam::gigeconfig
