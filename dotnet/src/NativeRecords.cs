// NativeRecords: the library's own records, byte for byte as the C interface lays them out (packed to 4).
using System;
using System.Runtime.InteropServices;

namespace QorCamDotNet
{
    [StructLayout(LayoutKind.Explicit, Size = 532)]
    internal unsafe struct NativeCameraInfo
    {
        [FieldOffset(0)] public UInt64 UID;
        [FieldOffset(8)] public UInt32 BusNumber;
        [FieldOffset(12)] public UInt32 CameraType;
        [FieldOffset(16)] public UInt32 Speed;
        [FieldOffset(20)] public fixed byte VendorName[256];
        [FieldOffset(276)] public fixed byte ModelName[256];
    }

    /// <summary>The list header; Count records of NativeCameraInfo follow from byte 4.</summary>
    [StructLayout(LayoutKind.Explicit, Size = 536)]
    internal struct NativeList
    {
        public const int InfoOffset = 4;
        [FieldOffset(0)] public UInt32 Count;
        [FieldOffset(4)] public NativeCameraInfo Info;
    }

    [StructLayout(LayoutKind.Explicit, Size = 76)]
    internal unsafe struct NativeOpenRequest
    {
        [FieldOffset(0)] public UInt64 UID;
        [FieldOffset(8)] public UInt32 URLIdx;
        [FieldOffset(12)] public fixed byte UserName[64];
    }

    [StructLayout(LayoutKind.Explicit, Size = 196)]
    internal unsafe struct NativeGigECameraInfo
    {
        [FieldOffset(0)] public UInt32 BusNumber;
        [FieldOffset(4)] public fixed byte MACAddr[6];
        [FieldOffset(10)] public UInt16 Spec_Major;
        [FieldOffset(12)] public UInt16 Spec_Minor;
        [FieldOffset(16)] public UInt32 Dev_Mode;
        [FieldOffset(20)] public fixed byte VendorName[32];
        [FieldOffset(52)] public fixed byte ModelName[32];
        [FieldOffset(84)] public fixed byte Dev_Ver[32];
        [FieldOffset(116)] public fixed byte Vendor_Info[48];
        [FieldOffset(164)] public fixed byte SerialNumber[16];
        [FieldOffset(180)] public fixed byte UserName[16];
    }

    [StructLayout(LayoutKind.Explicit, Size = 464)]
    internal unsafe struct NativeUsbCameraInfo
    {
        [FieldOffset(0)] public UInt32 BusNumber;
        [FieldOffset(4)] public UInt32 GenCP_Version;
        [FieldOffset(8)] public fixed byte VendorName[64];
        [FieldOffset(72)] public fixed byte ModelName[64];
        [FieldOffset(136)] public fixed byte FamilyName[64];
        [FieldOffset(200)] public fixed byte Dev_Version[64];
        [FieldOffset(264)] public fixed byte Vendor_Info[64];
        [FieldOffset(328)] public fixed byte SerialNumber[64];
        [FieldOffset(392)] public fixed byte UserName[64];
        [FieldOffset(456)] public UInt64 Dev_Capability;
    }

    [StructLayout(LayoutKind.Explicit, Size = 32)]
    internal struct NativeImage
    {
        [FieldOffset(0)] public UInt32 Width;
        [FieldOffset(4)] public UInt32 Height;
        [FieldOffset(8)] public IntPtr pBuffer;
        [FieldOffset(16)] public UInt32 Length;
        [FieldOffset(20)] public UInt32 PixelFormatID;
        [FieldOffset(24)] public UInt32 EndianMode;
        [FieldOffset(28)] public Int32 Status;
    }

    [StructLayout(LayoutKind.Explicit, Size = 24)]
    internal struct NativePktLog
    {
        [FieldOffset(0)] public UInt64 TotalPktCount;
        [FieldOffset(8)] public UInt64 ErrorPktCount;
        [FieldOffset(16)] public UInt64 RetryCount;
    }

    [StructLayout(LayoutKind.Explicit, Size = 20)]
    internal struct NativeColorConvMode
    {
        [FieldOffset(0)] public UInt32 StoreMode;
        [FieldOffset(4)] public Int32 ShiftID;
        [FieldOffset(8)] public UInt32 DIBMode;
        [FieldOffset(12)] public Int32 BayerRevision_G;
        [FieldOffset(16)] public Int32 Parallel_Flag;
    }

    [StructLayout(LayoutKind.Explicit, Size = 32)]
    internal struct NativeColorValue
    {
        [FieldOffset(0)] public Double R_Value;
        [FieldOffset(8)] public Double G1_Value;
        [FieldOffset(16)] public Double G2_Value;
        [FieldOffset(24)] public Double B_Value;
    }

    /// <summary>The image leader's fields, as both the GigE and the USB part of the per-image record carry them.</summary>
    [StructLayout(LayoutKind.Explicit, Size = 28)]
    internal struct NativeStreamImage
    {
        [FieldOffset(0)] public UInt32 Pixel_Type;
        [FieldOffset(4)] public UInt32 Width;
        [FieldOffset(8)] public UInt32 Height;
        [FieldOffset(12)] public UInt32 Offset_X;
        [FieldOffset(16)] public UInt32 Offset_Y;
        [FieldOffset(20)] public UInt16 Padding_X;
        [FieldOffset(22)] public UInt16 Padding_Y;
        [FieldOffset(24)] public UInt32 Size_Y;
    }

    /// <summary>The per-image record: a camera type, then one of three parts that overlap from byte 4.
    /// Field names carry the part they belong to.</summary>
    [StructLayout(LayoutKind.Explicit, Size = 548)]
    internal unsafe struct NativeImageDataInfo
    {
        [FieldOffset(0)] public UInt32 CType;

        [FieldOffset(4)] public UInt32 C1394_Speed;
        [FieldOffset(8)] public UInt32 C1394_CycleTime_S;
        [FieldOffset(12)] public UInt32 C1394_CycleCount_S;
        [FieldOffset(16)] public UInt32 C1394_CycleTime_E;
        [FieldOffset(20)] public UInt32 C1394_CycleCount_E;

        // Common to the GigE and USB parts.
        [FieldOffset(4)] public Int32 Payload_Flag;
        [FieldOffset(8)] public UInt32 PayloadType;
        [FieldOffset(12)] public UInt64 Frame_ID;
        [FieldOffset(20)] public UInt64 TimeStamp;

        [FieldOffset(28)] public NativeStreamImage GigE_Image;
        [FieldOffset(28)] public UInt64 GigE_Raw_DataSize;
        [FieldOffset(36)] public fixed byte GigE_FileName[256];
        [FieldOffset(28)] public UInt32 GigE_Chunk_DataSize;
        [FieldOffset(52)] public UInt32 GigE_Ext_DataSize;
        [FieldOffset(56)] public UInt32 GigE_Ext_Size_Y;
        [FieldOffset(60)] public UInt32 GigE_Ext_Chunk_ID;
        [FieldOffset(28)] public fixed byte GigE_VendorData[512];
        [FieldOffset(540)] public UInt32 GigE_MissingPackets;

        [FieldOffset(28)] public UInt64 Usb_DataSize;
        [FieldOffset(36)] public NativeStreamImage Usb_Image;
        [FieldOffset(36)] public UInt32 Usb_Chunk_ID;
        [FieldOffset(64)] public UInt32 Usb_Ext_Chunk_ID;
    }

    /// <summary>Sizes of the DIB headers the library builds: one colour entry, or a 256-entry grey palette.</summary>
    internal static class BitmapInfoSize
    {
        public const int Plain = 44;
        public const int Palette = 1064;
        public const int WidthOffset = 4;
        public const int HeightOffset = 8;
        public const int SizeImageOffset = 20;
    }
}
