// CameraRecord: the camera record of an opened device, as both camera classes fill it.
#include "CameraRecord.h"

#include "GenTLCustom.h"
#include "GenTLInterface.h"
#include "GenTLProducer.h"
#include "QorCamDLL.h"
#include "TraceLog.h"

#include <cstring>

namespace qorcam::library {

bool FillCameraRecord(CGenTL& producer, DEV_HANDLE device, QORCAM_CAMERAINFO* info, const char* name) {
    std::memset(info, 0, sizeof *info);
    char text[1024];
    std::uint32_t value = 0;
    auto ask = [&](std::int32_t command, void* buffer, std::size_t size) {
        std::memset(buffer, 0, size);
        INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
        std::size_t answered = size;
        return producer.fn.DevGetInfo(device, command, &type, buffer, &answered) == GC_ERR_SUCCESS;
    };
    auto fail = [&] {
        TraceClass(1, name, producer.LastErrorText().c_str());
        producer.Library().SetLastErrorCode(STATUSQORCAM_UNDEF_ERROR);
        return false;
    };
    if (!ask(DEVICE_INFO_ID, text, sizeof text)) return fail();
    text[sizeof text - 1] = '\0';
    info->UID = CInterface::CameraNumber(text);
    if (!ask(DEVICE_INFO_VENDOR, text, sizeof text)) return fail();
    std::memcpy(info->VendorName, text, sizeof info->VendorName);
    if (!ask(DEVICE_INFO_MODEL, text, sizeof text)) return fail();
    std::memcpy(info->ModelName, text, sizeof info->ModelName);
    if (!ask(DEVICE_INFO_CUSTOM_BUS_NUMBER, &value, sizeof value)) return fail();
    info->BusNumber = value;
    if (!ask(DEVICE_INFO_CUSTOM_SPEED, &value, sizeof value)) return fail();
    const std::uint32_t type = producer.Type();
    if (type >= kProducerIIDC && type <= kProducerUSB) {
        info->CameraType = type - 1;
        info->Speed = CInterface::SpeedFor(type, value);
    }
    return true;
}

} // namespace qorcam::library
