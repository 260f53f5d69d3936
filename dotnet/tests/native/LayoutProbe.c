/* LayoutProbe: prints, as C# source, the sizes and field offsets of the library's records as the C compiler
 * lays them out. */
#include "QorCam.h"

#include <stddef.h>
#include <stdio.h>

#define SIZE(managed, type) printf("            { \"%s\", \"\", %zu },\n", managed, sizeof(type))
#define AT(managed, field, type, member)                                                                     \
    printf("            { \"%s\", \"%s\", %zu },\n", managed, field, offsetof(type, member))

#define ENUM(type, member) printf("            { \"%s\", \"%s\", %d },\n", type, #member, (int)(member))

int main(void) {
    printf("// Generated at build time from the library's C header; do not edit.\n");
    printf("namespace QorCamDotNet.Tests\n{\n    internal static class NativeLayout\n    {\n");
    printf(
        "        // Record type in the binding, field in the binding (empty: the record's size), C value.\n");
    printf("        internal static readonly object[,] Table = {\n");

    SIZE("NativeCameraInfo", QORCAM_CAMERAINFO);
    AT("NativeCameraInfo", "UID", QORCAM_CAMERAINFO, UID);
    AT("NativeCameraInfo", "BusNumber", QORCAM_CAMERAINFO, BusNumber);
    AT("NativeCameraInfo", "CameraType", QORCAM_CAMERAINFO, CameraType);
    AT("NativeCameraInfo", "Speed", QORCAM_CAMERAINFO, Speed);
    AT("NativeCameraInfo", "VendorName", QORCAM_CAMERAINFO, VendorName);
    AT("NativeCameraInfo", "ModelName", QORCAM_CAMERAINFO, ModelName);

    SIZE("NativeList", QORCAM_LIST);
    AT("NativeList", "Count", QORCAM_LIST, Count);
    AT("NativeList", "Info", QORCAM_LIST, Info);

    SIZE("NativeOpenRequest", QORCAM_OPENREQUEST);
    AT("NativeOpenRequest", "UID", QORCAM_OPENREQUEST, UID);
    AT("NativeOpenRequest", "URLIdx", QORCAM_OPENREQUEST, URLIdx);
    AT("NativeOpenRequest", "UserName", QORCAM_OPENREQUEST, UserName);

    SIZE("NativeGigECameraInfo", QORCAM_GIGECAMERAINFO);
    AT("NativeGigECameraInfo", "BusNumber", QORCAM_GIGECAMERAINFO, BusNumber);
    AT("NativeGigECameraInfo", "MACAddr", QORCAM_GIGECAMERAINFO, MACAddr);
    AT("NativeGigECameraInfo", "Spec_Major", QORCAM_GIGECAMERAINFO, Spec_Major);
    AT("NativeGigECameraInfo", "Spec_Minor", QORCAM_GIGECAMERAINFO, Spec_Minor);
    AT("NativeGigECameraInfo", "Dev_Mode", QORCAM_GIGECAMERAINFO, Dev_Mode);
    AT("NativeGigECameraInfo", "VendorName", QORCAM_GIGECAMERAINFO, VendorName);
    AT("NativeGigECameraInfo", "ModelName", QORCAM_GIGECAMERAINFO, ModelName);
    AT("NativeGigECameraInfo", "Dev_Ver", QORCAM_GIGECAMERAINFO, Dev_Ver);
    AT("NativeGigECameraInfo", "Vendor_Info", QORCAM_GIGECAMERAINFO, Vendor_Info);
    AT("NativeGigECameraInfo", "SerialNumber", QORCAM_GIGECAMERAINFO, SerialNumber);
    AT("NativeGigECameraInfo", "UserName", QORCAM_GIGECAMERAINFO, UserName);

    SIZE("NativeUsbCameraInfo", QORCAM_USBCAMERAINFO);
    AT("NativeUsbCameraInfo", "BusNumber", QORCAM_USBCAMERAINFO, BusNumber);
    AT("NativeUsbCameraInfo", "GenCP_Version", QORCAM_USBCAMERAINFO, GenCP_Version);
    AT("NativeUsbCameraInfo", "VendorName", QORCAM_USBCAMERAINFO, VendorName);
    AT("NativeUsbCameraInfo", "ModelName", QORCAM_USBCAMERAINFO, ModelName);
    AT("NativeUsbCameraInfo", "FamilyName", QORCAM_USBCAMERAINFO, FamilyName);
    AT("NativeUsbCameraInfo", "Dev_Version", QORCAM_USBCAMERAINFO, Dev_Version);
    AT("NativeUsbCameraInfo", "Vendor_Info", QORCAM_USBCAMERAINFO, Vendor_Info);
    AT("NativeUsbCameraInfo", "SerialNumber", QORCAM_USBCAMERAINFO, SerialNumber);
    AT("NativeUsbCameraInfo", "UserName", QORCAM_USBCAMERAINFO, UserName);
    AT("NativeUsbCameraInfo", "Dev_Capability", QORCAM_USBCAMERAINFO, Dev_Capability);

    SIZE("NativeImage", QORCAM_IMAGE);
    AT("NativeImage", "Width", QORCAM_IMAGE, Width);
    AT("NativeImage", "Height", QORCAM_IMAGE, Height);
    AT("NativeImage", "pBuffer", QORCAM_IMAGE, pBuffer);
    AT("NativeImage", "Length", QORCAM_IMAGE, Length);
    AT("NativeImage", "PixelFormatID", QORCAM_IMAGE, PixelFormatID);
    AT("NativeImage", "EndianMode", QORCAM_IMAGE, EndianMode);
    AT("NativeImage", "Status", QORCAM_IMAGE, Status);

    SIZE("NativePktLog", QORCAM_PKTLOG);
    AT("NativePktLog", "TotalPktCount", QORCAM_PKTLOG, TotalPktCount);
    AT("NativePktLog", "ErrorPktCount", QORCAM_PKTLOG, ErrorPktCount);
    AT("NativePktLog", "RetryCount", QORCAM_PKTLOG, RetryCount);

    SIZE("NativeColorConvMode", QORCAM_COLORCONVMODE);
    AT("NativeColorConvMode", "StoreMode", QORCAM_COLORCONVMODE, StoreMode);
    AT("NativeColorConvMode", "ShiftID", QORCAM_COLORCONVMODE, ShiftID);
    AT("NativeColorConvMode", "DIBMode", QORCAM_COLORCONVMODE, DIBMode);
    AT("NativeColorConvMode", "BayerRevision_G", QORCAM_COLORCONVMODE, BayerRevision_G);
    AT("NativeColorConvMode", "Parallel_Flag", QORCAM_COLORCONVMODE, Parallel_Flag);

    SIZE("NativeColorValue", QORCAM_COLORVALUE);
    AT("NativeColorValue", "R_Value", QORCAM_COLORVALUE, R_Value);
    AT("NativeColorValue", "G1_Value", QORCAM_COLORVALUE, G1_Value);
    AT("NativeColorValue", "G2_Value", QORCAM_COLORVALUE, G2_Value);
    AT("NativeColorValue", "B_Value", QORCAM_COLORVALUE, B_Value);

#define IMG QORCAM_STREAMINFO_IMAGE
    SIZE("NativeStreamImage", IMG);
    AT("NativeStreamImage", "Pixel_Type", IMG, Pixel_Type);
    AT("NativeStreamImage", "Width", IMG, Width);
    AT("NativeStreamImage", "Height", IMG, Height);
    AT("NativeStreamImage", "Offset_X", IMG, Offset_X);
    AT("NativeStreamImage", "Offset_Y", IMG, Offset_Y);
    AT("NativeStreamImage", "Padding_X", IMG, Padding_X);
    AT("NativeStreamImage", "Padding_Y", IMG, Padding_Y);
    AT("NativeStreamImage", "Size_Y", IMG, Size_Y);

#define I QORCAM_IMAGEDATAINFO
#define GIGE Info.CGigE.StreamInfo
#define USB Info.CUsb.StreamInfo
    SIZE("NativeImageDataInfo", I);
    AT("NativeImageDataInfo", "CType", I, CType);
    AT("NativeImageDataInfo", "C1394_Speed", I, Info.C1394.Speed);
    AT("NativeImageDataInfo", "C1394_CycleTime_S", I, Info.C1394.CycleTime_S);
    AT("NativeImageDataInfo", "C1394_CycleCount_S", I, Info.C1394.CycleCount_S);
    AT("NativeImageDataInfo", "C1394_CycleTime_E", I, Info.C1394.CycleTime_E);
    AT("NativeImageDataInfo", "C1394_CycleCount_E", I, Info.C1394.CycleCount_E);
    AT("NativeImageDataInfo", "Payload_Flag", I, Info.CGigE.Payload_Flag);
    AT("NativeImageDataInfo", "PayloadType", I, GIGE.SType);
    AT("NativeImageDataInfo", "Frame_ID", I, GIGE.Frame_ID);
    AT("NativeImageDataInfo", "TimeStamp", I, GIGE.TimeStamp);
    AT("NativeImageDataInfo", "Payload_Flag", I, Info.CUsb.Payload_Flag);
    AT("NativeImageDataInfo", "PayloadType", I, USB.SType);
    AT("NativeImageDataInfo", "Frame_ID", I, USB.Frame_ID);
    AT("NativeImageDataInfo", "TimeStamp", I, USB.TimeStamp);
    AT("NativeImageDataInfo", "GigE_Image", I, GIGE.Data.Image);
    AT("NativeImageDataInfo", "GigE_Raw_DataSize", I, GIGE.Data.Raw.DataSize);
    AT("NativeImageDataInfo", "GigE_FileName", I, GIGE.Data.File.FileName);
    AT("NativeImageDataInfo", "GigE_Chunk_DataSize", I, GIGE.Data.Chunk.DataSize);
    AT("NativeImageDataInfo", "GigE_Ext_DataSize", I, GIGE.Data.Ext_Chunk.DataSize);
    AT("NativeImageDataInfo", "GigE_Ext_Size_Y", I, GIGE.Data.Ext_Chunk.Size_Y);
    AT("NativeImageDataInfo", "GigE_Ext_Chunk_ID", I, GIGE.Data.Ext_Chunk.Chunk_ID);
    AT("NativeImageDataInfo", "GigE_VendorData", I, GIGE.Data.Vendor.VendorData);
    AT("NativeImageDataInfo", "GigE_MissingPackets", I, GIGE.MissingPackets);
    AT("NativeImageDataInfo", "Usb_DataSize", I, USB.DataSize);
    AT("NativeImageDataInfo", "Usb_Image", I, USB.Data.Image);
    AT("NativeImageDataInfo", "Usb_Chunk_ID", I, USB.Data.Chunk.Chunk_ID);
    AT("NativeImageDataInfo", "Usb_Ext_Chunk_ID", I, USB.Data.Ext_Chunk.Chunk_ID);

    printf("        };\n\n");
    printf("        // Enumeration, member, value in the C header.\n");
    printf("        internal static readonly object[,] Enums = {\n");
    ENUM("STATUS_RTNCODE", STATUSQORCAM_REQUEST_PENDING);
    ENUM("STATUS_RTNCODE", STATUSQORCAM_COMPLETE);
    ENUM("STATUS_RTNCODE", STATUSQORCAM_PARAMETER_ERROR);
    ENUM("STATUS_RTNCODE", STATUSQORCAM_BUFFER_SHORT);
    ENUM("STATUS_RTNCODE", STATUSQORCAM_OPEN_ERROR);
    ENUM("STATUS_RTNCODE", STATUSQORCAM_OPENED);
    ENUM("STATUS_RTNCODE", STATUSQORCAM_CANNOT_FOUND);
    ENUM("STATUS_RTNCODE", STATUSQORCAM_NO_OPEN);
    ENUM("STATUS_RTNCODE", STATUSQORCAM_COMMUNICATE_ERROR);
    ENUM("STATUS_RTNCODE", STATUSQORCAM_RESOURCE_ERROR);
    ENUM("STATUS_RTNCODE", STATUSQORCAM_NOTRESOURCE_ERROR);
    ENUM("STATUS_RTNCODE", STATUSQORCAM_STARTED_ERROR);
    ENUM("STATUS_RTNCODE", STATUSQORCAM_NOTSTART_ERROR);
    ENUM("STATUS_RTNCODE", STATUSQORCAM_REQUEST_EXEC);
    ENUM("STATUS_RTNCODE", STATUSQORCAM_REQUEST_TIMEOUT);
    ENUM("STATUS_RTNCODE", STATUSQORCAM_REQUEST_ERROR);
    ENUM("STATUS_RTNCODE", STATUSQORCAM_REQUEST_NOTALLOC);
    ENUM("STATUS_RTNCODE", STATUSQORCAM_STRUCTVERSION_ERROR);
    ENUM("STATUS_RTNCODE", STATUSQORCAM_FUNCTION_ONLYGIGE);
    ENUM("STATUS_RTNCODE", STATUSQORCAM_GIGE_NOTMULTICAST);
    ENUM("STATUS_RTNCODE", STATUSQORCAM_GIGE_IPADDR_ERROR);
    ENUM("STATUS_RTNCODE", STATUSQORCAM_FUNCTION_ONLYUSB);
    ENUM("STATUS_RTNCODE", STATUSQORCAM_NO_SUPPORT_PIXELFORMAT);
    ENUM("STATUS_RTNCODE", STATUSQORCAM_LIBRARY_CONTRADICTION);
    ENUM("STATUS_RTNCODE", STATUSQORCAM_UNDEF_ERROR);
    ENUM("STATUS_SYSTEMCODE", STATUSQORCAM_BUSRESET);
    ENUM("STATUS_SYSTEMCODE", STATUSQORCAM_POWERUP);
    ENUM("QORCAM_TRANSMITSPEED", QORCAM_S100M);
    ENUM("QORCAM_TRANSMITSPEED", QORCAM_S200M);
    ENUM("QORCAM_TRANSMITSPEED", QORCAM_S400M);
    ENUM("QORCAM_TRANSMITSPEED", QORCAM_S800M);
    ENUM("QORCAM_TRANSMITSPEED", QORCAM_S1600M);
    ENUM("QORCAM_TRANSMITSPEED", QORCAM_S3200M);
    ENUM("QORCAM_TRANSMITSPEED", QORCAM_S1000M);
    ENUM("QORCAM_TRANSMITSPEED", QORCAM_SUSB2);
    ENUM("QORCAM_TRANSMITSPEED", QORCAM_SUSB3);
    ENUM("QORCAM_SHIFTID", QORCAM_SFTAUTO);
    ENUM("QORCAM_SHIFTID", QORCAM_SFT0);
    ENUM("QORCAM_SHIFTID", QORCAM_SFT1);
    ENUM("QORCAM_SHIFTID", QORCAM_SFT2);
    ENUM("QORCAM_SHIFTID", QORCAM_SFT3);
    ENUM("QORCAM_SHIFTID", QORCAM_SFT4);
    ENUM("QORCAM_SHIFTID", QORCAM_SFT5);
    ENUM("QORCAM_SHIFTID", QORCAM_SFT6);
    ENUM("QORCAM_SHIFTID", QORCAM_SFT7);
    ENUM("QORCAM_SHIFTID", QORCAM_SFT8);
    ENUM("QORCAM_DIBMODE", QORCAM_DIB32);
    ENUM("QORCAM_DIBMODE", QORCAM_DIB24);
    ENUM("QORCAM_STOREMODE", QORCAM_MEMmode);
    ENUM("QORCAM_STOREMODE", QORCAM_MEMmodeLR);
    ENUM("QORCAM_STOREMODE", QORCAM_BMPmode);
    ENUM("QORCAM_STOREMODE", QORCAM_BMPmodeLR);
    ENUM("QORCAM_ENDIAN", QORCAM_BIGENDIAN);
    ENUM("QORCAM_ENDIAN", QORCAM_LITTLEENDIAN);
    ENUM("QORCAM_GIGESTREAMTYPE", QORCAM_GIGEIMAGEDATA);
    ENUM("QORCAM_GIGESTREAMTYPE", QORCAM_GIGERAWDATA);
    ENUM("QORCAM_GIGESTREAMTYPE", QORCAM_GIGEFILEDATA);
    ENUM("QORCAM_GIGESTREAMTYPE", QORCAM_GIGECHUNKDATA);
    ENUM("QORCAM_GIGESTREAMTYPE", QORCAM_GIGEEXTCHUNKDATA);
    ENUM("QORCAM_GIGESTREAMTYPE", QORCAM_GIGEVENDORDATA);
    ENUM("QORCAM_USBSTREAMTYPE", QORCAM_USBIMAGEDATA);
    ENUM("QORCAM_USBSTREAMTYPE", QORCAM_USBCHUNKDATA);
    ENUM("QORCAM_USBSTREAMTYPE", QORCAM_USBEXTCHUNKDATA);
    printf("        };\n    }\n}\n");
    return 0;
}
