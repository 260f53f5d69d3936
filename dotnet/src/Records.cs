// Records: the public managed twins of the library's records. They are never handed to the library
// as they are: every call builds or reads the library's own record and copies field by field.
// A sub-record that only some images or features carry is a nullable field, null until filled.
using System;
using System.Runtime.InteropServices;

namespace QorCamDotNet
{
    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_CAMERAINFO
    {
        public UInt64 UID;
        public UInt32 BusNumber;
        public QORCAM_CAMERATYPE CameraType;
        public QORCAM_TRANSMITSPEED Speed;
        public String VendorName;
        public String ModelName;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_GIGECAMERAINFO
    {
        public UInt32 BusNumber;
        public Byte[] MACAddr;
        public UInt16 Spec_Major;
        public UInt16 Spec_Minor;
        public UInt32 Dev_Mode;
        public String VendorName;
        public String ModelName;
        public String Dev_Ver;
        public String Vendor_Info;
        public String SerialNumber;
        public String UserName;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_USBCAMERAINFO
    {
        public UInt32 BusNumber;
        public UInt32 GenCP_Version;
        public String VendorName;
        public String ModelName;
        public String FamilyName;
        public String Dev_Version;
        public String Vendor_Info;
        public String SerialNumber;
        public String UserName;
        public UInt64 Dev_Capability;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_IMAGEINFO
    {
        public UInt32 Width;
        public UInt32 Height;
        public UInt32 RGBLength;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_IMAGE
    {
        public UInt32 Width;
        public UInt32 Height;
        public IntPtr pBuffer;
        public UInt32 Length;
        public UInt32 PixelFormatID;
        public QORCAM_ENDIAN EndianMode;
        public STATUS_RTNCODE Status;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_STREAMINFO_IMAGE
    {
        public UInt32 Pixel_Type;
        public UInt32 Width;
        public UInt32 Height;
        public UInt32 Offset_X;
        public UInt32 Offset_Y;
        public UInt16 Padding_X;
        public UInt16 Padding_Y;
        public UInt32 Size_Y;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_STREAMINFO_RAW
    {
        public UInt64 DataSize;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_STREAMINFO_FILE
    {
        public UInt64 DataSize;
        public String FileName;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_STREAMINFO_CHUNK
    {
        public UInt32 DataSize;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_STREAMINFO_EXT_CHUNK
    {
        public UInt32 Pixel_Type;
        public UInt32 Width;
        public UInt32 Height;
        public UInt32 Offset_X;
        public UInt32 Offset_Y;
        public UInt16 Padding_X;
        public UInt16 Padding_Y;
        public UInt32 DataSize;
        public UInt32 Size_Y;
        public UInt32 Chunk_ID;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_STREAMINFOUSB_CHUNK
    {
        public UInt32 Chunk_ID;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_STREAMINFOUSB_EXT_CHUNK
    {
        public UInt32 Pixel_Type;
        public UInt32 Width;
        public UInt32 Height;
        public UInt32 Offset_X;
        public UInt32 Offset_Y;
        public UInt16 Padding_X;
        public UInt16 Padding_Y;
        public UInt32 Size_Y;
        public UInt32 Chunk_ID;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_STREAMINFO_VENDOR
    {
        public String VendorData;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_GIGESTREAMINFO
    {
        public QORCAM_GIGESTREAMTYPE SType;
        public UInt64 Frame_ID;
        public UInt64 TimeStamp;
        public QORCAM_STREAMINFO_IMAGE? Image;
        public QORCAM_STREAMINFO_RAW? Raw;
        public QORCAM_STREAMINFO_FILE? File;
        public QORCAM_STREAMINFO_CHUNK? Chunk;
        public QORCAM_STREAMINFO_EXT_CHUNK? Ext_Chunk;
        public QORCAM_STREAMINFO_VENDOR? Vendor;
        /// <summary>Packets still missing when the block was completed; a frame with any is never good.</summary>
        public UInt32 MissingPackets;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_USBSTREAMINFO
    {
        public QORCAM_USBSTREAMTYPE SType;
        public UInt64 Frame_ID;
        public UInt64 TimeStamp;
        public UInt64 DataSize;
        public QORCAM_STREAMINFO_IMAGE? Image;
        public QORCAM_STREAMINFOUSB_CHUNK? Chunk;
        public QORCAM_STREAMINFOUSB_EXT_CHUNK? Ext_Chunk;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_IMAGEDATAINFO_1394
    {
        public QORCAM_TRANSMITSPEED Speed;
        public UInt32 CycleTime_S;
        public UInt32 CycleCount_S;
        public UInt32 CycleTime_E;
        public UInt32 CycleCount_E;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_IMAGEDATAINFO_GIGE
    {
        public bool Payload_Flag;
        public QORCAM_GIGESTREAMINFO? StreamInfo;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_IMAGEDATAINFO_USB
    {
        public bool Payload_Flag;
        public QORCAM_USBSTREAMINFO? StreamInfo;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_IMAGEDATAINFO
    {
        public QORCAM_CAMERATYPE CType;
        public QORCAM_IMAGEDATAINFO_1394? C1394;
        public QORCAM_IMAGEDATAINFO_GIGE? CGigE;
        public QORCAM_IMAGEDATAINFO_USB? CUsb;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_PKTLOG
    {
        public UInt64 TotalPktCount;
        public UInt64 ErrorPktCount;
        public UInt64 RetryCount;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_COLORVALUE
    {
        public Double R_Value;
        public Double G1_Value;
        public Double G2_Value;
        public Double B_Value;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_COLORCONVMODE
    {
        public QORCAM_STOREMODE StoreMode;
        public QORCAM_SHIFTID ShiftID;
        public QORCAM_DIBMODE DIBMode;
        public bool BayerRevision_G;
        public bool Parallel_Flag;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_OPENREQUEST
    {
        public UInt64 UID;
        public UInt32 URLIdx;
        public String UserName;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_FEATURE
    {
        public QORCAM_FEATURETYPE FType;
        public String FeatureName;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_INTREG
    {
        public Int64 MinValue;
        public Int64 MaxValue;
        public Int64 IncValue;
        public String Unit;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_FLOATREG
    {
        public Double MinValue;
        public Double MaxValue;
        public Double IncValue;
        public bool HasInc;
        public String Unit;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_STRINGREG
    {
        public UInt64 MaxLength;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_REG
    {
        public Int64 Addr;
        public UInt64 Length;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_FEATUREINFO
    {
        public QORCAM_FEATURETYPE FType;
        public String DisplayName;
        public String Description;
        public String ToolTip;
        public UInt64 PollingTime;
        public QORCAM_INTREG? IntReg;
        public QORCAM_FLOATREG? FloatReg;
        public QORCAM_STRINGREG? StringReg;
        public QORCAM_REG? Reg;
    }

    [StructLayout(LayoutKind.Sequential)]
    public struct QORCAM_ENTRYINFO
    {
        public String SymbolName;
        public String DisplayName;
        public String Description;
        public String ToolTip;
        public UInt64 Value;
    }
}
