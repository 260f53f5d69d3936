// The 55 exported GenTL functions: handle tests, module calls and the mapping of exceptions to codes.
#include "GenTL.h"

#include "gentl/CBufferInfo.h"
#include "gentl/CDataStream.h"
#include "gentl/CDevice.h"
#include "gentl/CEventObj.h"
#include "gentl/CInterface.h"
#include "gentl/CTL.h"
#include "gentl/CTLIError.h"
#include "gentl/Exceptions.h"
#include "gentl/HandleRegistry.h"
#include "gentl/InfoFillers.h"
#include "gentl/Producer.h"

#include <stdexcept>
#include <type_traits>

using namespace GenICam::Client;

namespace {

// Runs one export's body and turns its exceptions into codes, storing code and text as the last error.
// A foreign exception stores `fallback` when the export has one, else leaves the record as it was.
template <class Body> GC_ERROR Frame(const char* fallback, Body&& body) {
    try {
        body();
        return GC_ERR_SUCCESS;
    } catch (const std::invalid_argument& e) {
        CTLIError::Set(GC_ERR_INVALID_PARAMETER, e.what());
        return GC_ERR_INVALID_PARAMETER;
    } catch (const std::out_of_range& e) {
        CTLIError::Set(GC_ERR_ERROR, e.what());
        return GC_ERR_ERROR;
    } catch (const std::runtime_error& e) {
        CTLIError::Set(GC_ERR_ERROR, e.what());
        return GC_ERR_ERROR;
    } catch (const std::logic_error& e) {
        CTLIError::Set(GC_ERR_ERROR, e.what());
        return GC_ERR_ERROR;
    } catch (const timeout_error& e) {
        CTLIError::Set(GC_ERR_TIMEOUT, e.what());
        return GC_ERR_TIMEOUT;
    } catch (const abort_error& e) {
        CTLIError::Set(GC_ERR_ABORT, e.what());
        return GC_ERR_ABORT;
    } catch (const dynamic_cast_error& e) {
        CTLIError::Set(GC_ERR_ERROR, e.what());
        return GC_ERR_ERROR;
    } catch (...) {
        if (fallback) CTLIError::Set(GC_ERR_ERROR, fallback);
        return GC_ERR_ERROR;
    }
}

// The handle test of the module functions: a live object of class T, else runtime_error
// "Invalid Device Handle" (the same text for every class).
template <class T> T* Module(void* handle) {
    ICommonBase* base = HandleRegistry::FindModule(handle);
    T* object = base ? dynamic_cast<T*>(base) : nullptr;
    if (!object) throw std::runtime_error("Invalid Device Handle");
    return object;
}

// Port and event-source handles: any live module. Null when the handle is null or names none.
ICommonBase* Port(void* handle) {
    return HandleRegistry::FindModule(handle);
}

// A text value handed out without a type: the fillers' size rule.
void CopyText(char* text, size_t* size, const std::string& value) {
    CopyInfoBuffer(text, size, nullptr, INFO_DATATYPE_STRING, value.c_str(), value.size() + 1);
}

void CheckPortBuffer(const void* buffer, const size_t* size) {
    if (!size) throw std::invalid_argument("Invalid Size");
    if (!buffer && *size > 0) throw std::invalid_argument("Invalid buffer");
}

GC_ERROR InvalidEventHandle() {
    CTLIError::Set(GC_ERR_INVALID_HANDLE, "Invalid Event Handle");
    return GC_ERR_INVALID_HANDLE;
}

} // namespace

extern "C" {

GC_API_EXPORT GC_ERROR GC_CALLTYPE GCInitLib(void) {
    ProducerInitLib();
    return GC_ERR_SUCCESS;
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE GCCloseLib(void) {
    ProducerCloseLib();
    return GC_ERR_SUCCESS;
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE GCGetLastError(GC_ERROR* piErrorCode, char* sErrText, size_t* piSize) {
    return CTLIError::Get(piErrorCode, sErrText, piSize);
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE GCGetInfo(TL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                                             size_t* piSize) {
    if (iInfoCmd < TL_INFO_ID || iInfoCmd > TL_INFO_DISPLAYNAME) {
        CTLIError::Set(GC_ERR_INVALID_PARAMETER, "Unsupported GCInfo parameter");
        return GC_ERR_INVALID_PARAMETER;
    }
    if (iInfoCmd == TL_INFO_ID || iInfoCmd == TL_INFO_NAME) {
        const std::string name = GetProducerFileName();
        if (name.empty()) return GC_ERR_ERROR;
        return Frame(nullptr, [&] { CopyInfoString(pBuffer, piSize, piType, name); });
    }
    return Frame(nullptr, [&] { AnswerLibraryInfo(iInfoCmd, piType, pBuffer, piSize); });
}

// Port functions.

// A port access: the module's description answers its own registers, the module everything else.
static void ReadPort(ICommonBase* port, uint64_t address, void* buffer, size_t* size) {
    auto* described = dynamic_cast<IDescribedModule*>(port);
    if (described && *size != 0 && described->Description().Read(address, buffer, size)) return;
    port->Read(address, buffer, size);
}

static void WritePort(ICommonBase* port, uint64_t address, const void* buffer, size_t* size) {
    auto* described = dynamic_cast<IDescribedModule*>(port);
    if (described && *size != 0 && described->Description().Write(address, buffer, size)) return;
    port->Write(address, buffer, size);
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE GCReadPort(PORT_HANDLE hPort, uint64_t iAddress, void* pBuffer,
                                              size_t* piSize) {
    ICommonBase* port = Port(hPort);
    if (!port) return GC_ERR_INVALID_HANDLE;
    return Frame(nullptr, [&] {
        CheckPortBuffer(pBuffer, piSize);
        ReadPort(port, iAddress, pBuffer, piSize);
    });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE GCWritePort(PORT_HANDLE hPort, uint64_t iAddress, const void* pBuffer,
                                               size_t* piSize) {
    ICommonBase* port = Port(hPort);
    if (!port) return GC_ERR_INVALID_HANDLE;
    return Frame(nullptr, [&] {
        CheckPortBuffer(pBuffer, piSize);
        WritePort(port, iAddress, pBuffer, piSize);
    });
}

static GC_ERROR PortStacked(PORT_HANDLE hPort, PORT_REGISTER_STACK_ENTRY* pEntries, size_t* piNumEntries,
                            bool write) {
    ICommonBase* port = Port(hPort);
    if (!port || !pEntries || !piNumEntries || *piNumEntries == 0) return GC_ERR_INVALID_HANDLE;
    const size_t count = *piNumEntries;
    size_t done = 0;
    const GC_ERROR result = Frame(nullptr, [&] {
        for (; done < count; ++done) {
            PORT_REGISTER_STACK_ENTRY& entry = pEntries[done];
            CheckPortBuffer(entry.pBuffer, &entry.Size);
            if (write) {
                WritePort(port, entry.Address, entry.pBuffer, &entry.Size);
            } else {
                ReadPort(port, entry.Address, entry.pBuffer, &entry.Size);
            }
        }
    });
    *piNumEntries = done;
    return result;
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE GCReadPortStacked(PORT_HANDLE hPort, PORT_REGISTER_STACK_ENTRY* pEntries,
                                                     size_t* piNumEntries) {
    return PortStacked(hPort, pEntries, piNumEntries, false);
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE GCWritePortStacked(PORT_HANDLE hPort, PORT_REGISTER_STACK_ENTRY* pEntries,
                                                      size_t* piNumEntries) {
    return PortStacked(hPort, pEntries, piNumEntries, true);
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE GCGetPortURL(PORT_HANDLE hPort, char* sURL, size_t* piSize) {
    ICommonBase* port = Port(hPort);
    if (!port) return GC_ERR_INVALID_HANDLE;
    return Frame(nullptr, [&] {
        if (!piSize) throw std::invalid_argument("Invalid Size");
        port->GetURL(sURL, piSize);
    });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE GCGetNumPortURLs(PORT_HANDLE hPort, uint32_t* piNumURLs) {
    ICommonBase* port = Port(hPort);
    if (!port) return GC_ERR_INVALID_HANDLE;
    if (!piNumURLs) return GC_ERR_INVALID_PARAMETER;
    return Frame(nullptr, [&] { port->GetNumURLs(piNumURLs); });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE GCGetPortURLInfo(PORT_HANDLE hPort, uint32_t iURLIndex,
                                                    URL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                                                    void* pBuffer, size_t* piSize) {
    ICommonBase* port = Port(hPort);
    if (!port) return GC_ERR_INVALID_HANDLE;
    return Frame(nullptr, [&] {
        if (!piSize) throw std::invalid_argument("Invalid Size");
        port->GetURLInfo(iURLIndex, iInfoCmd, piType, pBuffer, piSize);
    });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE GCGetPortInfo(PORT_HANDLE hPort, PORT_INFO_CMD iInfoCmd,
                                                 INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    ICommonBase* port = Port(hPort);
    if (!port) return GC_ERR_INVALID_HANDLE;
    return Frame(nullptr, [&] { port->GetPortInfo(iInfoCmd, piType, pBuffer, piSize); });
}

// Events.

GC_API_EXPORT GC_ERROR GC_CALLTYPE GCRegisterEvent(EVENTSRC_HANDLE hEventSrc, EVENT_TYPE iEventID,
                                                   EVENT_HANDLE* phEvent) {
    ICommonBase* source = Port(hEventSrc);
    if (!source) return GC_ERR_INVALID_HANDLE;
    if (!phEvent) return GC_ERR_INVALID_PARAMETER;
    return Frame(nullptr, [&] {
        EVENT_HANDLE event = nullptr;
        static_cast<IEventSrc*>(source)->RegisterEvent(iEventID, &event);
        *phEvent = event;
    });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE GCUnregisterEvent(EVENTSRC_HANDLE hEventSrc, EVENT_TYPE iEventID) {
    ICommonBase* source = Port(hEventSrc);
    if (!source) return GC_ERR_INVALID_HANDLE;
    return Frame(nullptr, [&] { static_cast<IEventSrc*>(source)->UnregisterEvent(iEventID); });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE EventGetData(EVENT_HANDLE hEvent, void* pBuffer, size_t* piSize,
                                                uint64_t iTimeout) {
    CEventObj* event = HandleRegistry::FindEvent(hEvent);
    if (!event) return InvalidEventHandle();
    bool delivered = false;
    const GC_ERROR result = Frame(nullptr, [&] { delivered = event->GetData(pBuffer, piSize, iTimeout); });
    if (result != GC_ERR_SUCCESS) return result;
    if (!delivered) {
        CTLIError::Set(GC_ERR_TIMEOUT, "Timeout");
        return GC_ERR_TIMEOUT;
    }
    return GC_ERR_SUCCESS;
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE EventGetInfo(EVENT_HANDLE hEvent, EVENT_INFO_CMD iInfoCmd,
                                                INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    CEventObj* event = HandleRegistry::FindEvent(hEvent);
    if (!event) return InvalidEventHandle();
    return Frame(nullptr, [&] { event->GetInfo(iInfoCmd, piType, pBuffer, piSize); });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE EventGetDataInfo(EVENT_HANDLE hEvent, const void* pInBuffer,
                                                    size_t iInSize, EVENT_DATA_INFO_CMD iInfoCmd,
                                                    INFO_DATATYPE* piType, void* pOutBuffer,
                                                    size_t* piOutSize) {
    CEventObj* event = HandleRegistry::FindEvent(hEvent);
    if (!event) return InvalidEventHandle();
    return Frame(nullptr,
                 [&] { event->GetDataInfo(pInBuffer, iInSize, iInfoCmd, piType, pOutBuffer, piOutSize); });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE EventFlush(EVENT_HANDLE hEvent) {
    CEventObj* event = HandleRegistry::FindEvent(hEvent);
    if (!event) return InvalidEventHandle();
    return Frame(nullptr, [&] { event->Flush(); });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE EventKill(EVENT_HANDLE hEvent) {
    CEventObj* event = HandleRegistry::FindEvent(hEvent);
    if (!event) return InvalidEventHandle();
    return Frame(nullptr, [&] { event->Kill(); });
}

// System module.

GC_API_EXPORT GC_ERROR GC_CALLTYPE TLOpen(TL_HANDLE* phTL) {
    if (!phTL) return GC_ERR_INVALID_PARAMETER;
    return Frame("GPF in TLOpen", [&] { *phTL = ToHandle(new CTL()); });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE TLClose(TL_HANDLE hTL) {
    return Frame("Unknown Exception thrown", [&] { delete Module<CTL>(hTL); });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE TLGetInfo(TL_HANDLE hTL, TL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                                             void* pBuffer, size_t* piSize) {
    if (iInfoCmd == TL_INFO_ID) {
        const std::string name = GetProducerFileName();
        if (name.empty()) return GC_ERR_ERROR;
        return Frame(nullptr, [&] { CopyInfoString(pBuffer, piSize, piType, name); });
    }
    return Frame(nullptr, [&] { Module<CTL>(hTL)->GetInfo(iInfoCmd, piType, pBuffer, piSize); });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE TLGetNumInterfaces(TL_HANDLE hTL, uint32_t* piNumIfaces) {
    if (!piNumIfaces) return GC_ERR_INVALID_PARAMETER;
    return Frame(nullptr, [&] { *piNumIfaces = Module<CTL>(hTL)->GetNumInterfaces(); });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE TLGetInterfaceID(TL_HANDLE hTL, uint32_t iIndex, char* sID,
                                                    size_t* piSize) {
    return Frame(nullptr, [&] { CopyText(sID, piSize, Module<CTL>(hTL)->GetInterfaceID(iIndex)); });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE TLGetInterfaceInfo(TL_HANDLE hTL, const char* sIfaceID,
                                                      INTERFACE_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                                                      void* pBuffer, size_t* piSize) {
    return Frame("Unknown Error", [&] {
        Module<CTL>(hTL)->GetInterfaceInfo(TextArg(sIfaceID), iInfoCmd, piType, pBuffer, piSize);
    });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE TLOpenInterface(TL_HANDLE hTL, const char* sIfaceID, IF_HANDLE* phIface) {
    if (!phIface) return GC_ERR_INVALID_PARAMETER;
    return Frame("Unknown Error",
                 [&] { *phIface = ToHandle(Module<CTL>(hTL)->OpenInterface(TextArg(sIfaceID))); });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE TLUpdateInterfaceList(TL_HANDLE hTL, bool8_t* pbChanged,
                                                         uint64_t iTimeout) {
    return Frame(nullptr, [&] { Module<CTL>(hTL)->UpdateInterfaceList(pbChanged, iTimeout); });
}

// Interface module.

GC_API_EXPORT GC_ERROR GC_CALLTYPE IFClose(IF_HANDLE hIface) {
    return Frame(nullptr, [&] { delete Module<CInterface>(hIface); });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE IFGetInfo(IF_HANDLE hIface, INTERFACE_INFO_CMD iInfoCmd,
                                             INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    return Frame(nullptr, [&] { Module<CInterface>(hIface)->GetInfo(iInfoCmd, piType, pBuffer, piSize); });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE IFGetNumDevices(IF_HANDLE hIface, uint32_t* piNumDevices) {
    if (!piNumDevices) return GC_ERR_INVALID_PARAMETER;
    return Frame(nullptr, [&] { *piNumDevices = Module<CInterface>(hIface)->GetNumDevices(); });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE IFGetDeviceID(IF_HANDLE hIface, uint32_t iIndex, char* sIDeviceID,
                                                 size_t* piSize) {
    return Frame(nullptr,
                 [&] { CopyText(sIDeviceID, piSize, Module<CInterface>(hIface)->GetDeviceID(iIndex)); });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE IFUpdateDeviceList(IF_HANDLE hIface, bool8_t* pbChanged,
                                                      uint64_t iTimeout) {
    return Frame(nullptr, [&] { Module<CInterface>(hIface)->UpdateDeviceList(pbChanged, iTimeout); });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE IFGetDeviceInfo(IF_HANDLE hIface, const char* sDeviceID,
                                                   DEVICE_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                                                   void* pBuffer, size_t* piSize) {
    return Frame(nullptr, [&] {
        Module<CInterface>(hIface)->GetDeviceInfo(TextArg(sDeviceID), iInfoCmd, piType, pBuffer, piSize);
    });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE IFOpenDevice(IF_HANDLE hIface, const char* sDeviceID,
                                                DEVICE_ACCESS_FLAGS iOpenFlag, DEV_HANDLE* phDevice) {
    if (!phDevice) return GC_ERR_INVALID_PARAMETER;
    return Frame("Unknown Error", [&] {
        *phDevice = ToHandle(Module<CInterface>(hIface)->OpenDevice(TextArg(sDeviceID), iOpenFlag));
    });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE IFGetParentTL(IF_HANDLE hIface, TL_HANDLE* phSystem) {
    if (!phSystem) return GC_ERR_INVALID_PARAMETER;
    return Frame(nullptr, [&] { *phSystem = ToHandle(Module<CInterface>(hIface)->GetParent()); });
}

// Device module.

GC_API_EXPORT GC_ERROR GC_CALLTYPE DevGetPort(DEV_HANDLE hDevice, PORT_HANDLE* phRemoteDevice) {
    if (!phRemoteDevice) return GC_ERR_INVALID_PARAMETER;
    return Frame(nullptr, [&] { *phRemoteDevice = ToHandle(Module<CDevice>(hDevice)->GetPort()); });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE DevGetNumDataStreams(DEV_HANDLE hDevice, uint32_t* piNumDataStreams) {
    if (!piNumDataStreams) return GC_ERR_INVALID_PARAMETER;
    return Frame(nullptr, [&] { *piNumDataStreams = Module<CDevice>(hDevice)->GetNumDataStreams(); });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE DevGetDataStreamID(DEV_HANDLE hDevice, uint32_t iIndex,
                                                      char* sDataStreamID, size_t* piSize) {
    return Frame(nullptr,
                 [&] { CopyText(sDataStreamID, piSize, Module<CDevice>(hDevice)->GetDataStreamID(iIndex)); });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE DevOpenDataStream(DEV_HANDLE hDevice, const char* sDataStreamID,
                                                     DS_HANDLE* phDataStream) {
    if (!phDataStream) return GC_ERR_INVALID_PARAMETER;
    return Frame(nullptr, [&] {
        *phDataStream = ToHandle(Module<CDevice>(hDevice)->OpenDataStream(TextArg(sDataStreamID)));
    });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE DevGetInfo(DEV_HANDLE hDevice, DEVICE_INFO_CMD iInfoCmd,
                                              INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    return Frame(nullptr, [&] { Module<CDevice>(hDevice)->GetInfo(iInfoCmd, piType, pBuffer, piSize); });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE DevClose(DEV_HANDLE hDevice) {
    return Frame(nullptr, [&] { delete Module<CDevice>(hDevice); });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE DevGetParentIF(DEV_HANDLE hDevice, IF_HANDLE* phIface) {
    if (!phIface) return GC_ERR_INVALID_PARAMETER;
    return Frame(nullptr, [&] { *phIface = ToHandle(Module<CDevice>(hDevice)->GetParent()); });
}

// Data stream module.

GC_API_EXPORT GC_ERROR GC_CALLTYPE DSAnnounceBuffer(DS_HANDLE hDataStream, void* pBuffer, size_t iSize,
                                                    void* pPrivate, BUFFER_HANDLE* phBuffer) {
    if (!phBuffer) return GC_ERR_INVALID_PARAMETER;
    return Frame(nullptr, [&] {
        *phBuffer = ToHandle(Module<CDataStream>(hDataStream)->AnnounceBuffer(pBuffer, iSize, pPrivate));
    });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE DSAllocAndAnnounceBuffer(DS_HANDLE hDataStream, size_t iSize,
                                                            void* pPrivate, BUFFER_HANDLE* phBuffer) {
    if (!phBuffer) return GC_ERR_INVALID_PARAMETER;
    return Frame(nullptr, [&] {
        *phBuffer = ToHandle(Module<CDataStream>(hDataStream)->AllocAndAnnounceBuffer(iSize, pPrivate));
    });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE DSRevokeBuffer(DS_HANDLE hDataStream, BUFFER_HANDLE hBuffer,
                                                  void** pBuffer, void** pPrivate) {
    return Frame(nullptr, [&] {
        CDataStream* stream = Module<CDataStream>(hDataStream);
        stream->RevokeBuffer(Module<CBufferInfo>(hBuffer), pBuffer, pPrivate);
    });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE DSQueueBuffer(DS_HANDLE hDataStream, BUFFER_HANDLE hBuffer) {
    return Frame(nullptr, [&] {
        CDataStream* stream = Module<CDataStream>(hDataStream);
        stream->QueueBuffer(Module<CBufferInfo>(hBuffer));
    });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE DSFlushQueue(DS_HANDLE hDataStream, ACQ_QUEUE_TYPE iOperation) {
    return Frame(nullptr, [&] { Module<CDataStream>(hDataStream)->FlushQueue(iOperation); });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE DSStartAcquisition(DS_HANDLE hDataStream, ACQ_START_FLAGS iStartFlags,
                                                      uint64_t iNumToAcquire) {
    return Frame(nullptr,
                 [&] { Module<CDataStream>(hDataStream)->StartAcquisition(iStartFlags, iNumToAcquire); });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE DSStopAcquisition(DS_HANDLE hDataStream, ACQ_STOP_FLAGS iStopFlags) {
    return Frame(nullptr, [&] { Module<CDataStream>(hDataStream)->StopAcquisition(iStopFlags); });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE DSGetInfo(DS_HANDLE hDataStream, STREAM_INFO_CMD iInfoCmd,
                                             INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    return Frame(nullptr,
                 [&] { Module<CDataStream>(hDataStream)->GetInfo(iInfoCmd, piType, pBuffer, piSize); });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE DSGetBufferID(DS_HANDLE hDataStream, uint32_t iIndex,
                                                 BUFFER_HANDLE* phBuffer) {
    if (!phBuffer) return GC_ERR_INVALID_PARAMETER;
    return Frame(nullptr,
                 [&] { *phBuffer = ToHandle(Module<CDataStream>(hDataStream)->GetBufferID(iIndex)); });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE DSGetBufferInfo(DS_HANDLE hDataStream, BUFFER_HANDLE hBuffer,
                                                   BUFFER_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                                                   void* pBuffer, size_t* piSize) {
    return Frame(nullptr, [&] {
        CDataStream* stream = Module<CDataStream>(hDataStream);
        stream->GetBufferInfo(Module<CBufferInfo>(hBuffer), iInfoCmd, piType, pBuffer, piSize);
    });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE DSGetBufferChunkData(DS_HANDLE hDataStream, BUFFER_HANDLE,
                                                        SINGLE_CHUNK_DATA*, size_t* piNumChunks) {
    // No chunk layout is reported: the count says so.
    return Frame(nullptr, [&] {
        Module<CDataStream>(hDataStream);
        if (piNumChunks) *piNumChunks = 0;
    });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE DSClose(DS_HANDLE hDataStream) {
    return Frame(nullptr, [&] { delete Module<CDataStream>(hDataStream); });
}

GC_API_EXPORT GC_ERROR GC_CALLTYPE DSGetParentDev(DS_HANDLE hDataStream, DEV_HANDLE* phDevice) {
    if (!phDevice) return GC_ERR_INVALID_PARAMETER;
    return Frame(nullptr, [&] { *phDevice = ToHandle(Module<CDataStream>(hDataStream)->GetParent()); });
}

} // extern "C"

// Every function of the interface is defined here with its declared signature.
#define GC_CHECK_SIGNATURE(name, params) static_assert(std::is_same_v<decltype(&name), P##name>);
GC_API_FUNCTIONS(GC_CHECK_SIGNATURE)
#undef GC_CHECK_SIGNATURE
