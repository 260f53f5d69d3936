// RecordCopy: the rules by which a library record becomes its managed twin, and back.
using System;

namespace QorCamDotNet
{
    internal static class RecordCopy
    {
        /// <summary>Library camera type 0, 1, 2 becomes 1394, GigE, USB; any other value sets nothing.</summary>
        internal static bool CameraType(UInt32 library, ref QORCAM_CAMERATYPE managed)
        {
            if (library > 2) return false;
            managed = (QORCAM_CAMERATYPE)(library + 1);
            return true;
        }

        internal static unsafe void CameraInfo(ref NativeCameraInfo n, ref QORCAM_CAMERAINFO Info)
        {
            Info.UID = n.UID;
            Info.BusNumber = n.BusNumber;
            CameraType(n.CameraType, ref Info.CameraType);
            Info.Speed = (QORCAM_TRANSMITSPEED)n.Speed;
            fixed (byte* v = n.VendorName) Info.VendorName = NativeText.Read(v, 256);
            fixed (byte* m = n.ModelName) Info.ModelName = NativeText.Read(m, 256);
        }

        /// <summary>Reads the record at p, which must hold 532 readable bytes.</summary>
        internal static unsafe void CameraInfo(NativeCameraInfo* p, ref QORCAM_CAMERAINFO Info)
        {
            CameraInfo(ref *p, ref Info);
        }

        internal static unsafe void GigECameraInfo(ref NativeGigECameraInfo n, ref QORCAM_GIGECAMERAINFO Info)
        {
            Info.BusNumber = n.BusNumber;
            Info.MACAddr = new Byte[6];
            fixed (byte* mac = n.MACAddr)
                for (int i = 0; i < 6; i++) Info.MACAddr[i] = mac[i];
            Info.Spec_Major = n.Spec_Major;
            Info.Spec_Minor = n.Spec_Minor;
            Info.Dev_Mode = n.Dev_Mode;
            fixed (byte* p = n.VendorName) Info.VendorName = NativeText.Read(p, 32);
            fixed (byte* p = n.ModelName) Info.ModelName = NativeText.Read(p, 32);
            fixed (byte* p = n.Dev_Ver) Info.Dev_Ver = NativeText.Read(p, 32);
            fixed (byte* p = n.Vendor_Info) Info.Vendor_Info = NativeText.Read(p, 48);
            fixed (byte* p = n.SerialNumber) Info.SerialNumber = NativeText.Read(p, 16);
            fixed (byte* p = n.UserName) Info.UserName = NativeText.Read(p, 16);
        }

        internal static unsafe void UsbCameraInfo(ref NativeUsbCameraInfo n, ref QORCAM_USBCAMERAINFO Info)
        {
            Info.BusNumber = n.BusNumber;
            Info.GenCP_Version = n.GenCP_Version;
            fixed (byte* p = n.VendorName) Info.VendorName = NativeText.Read(p, 64);
            fixed (byte* p = n.ModelName) Info.ModelName = NativeText.Read(p, 64);
            fixed (byte* p = n.FamilyName) Info.FamilyName = NativeText.Read(p, 64);
            fixed (byte* p = n.Dev_Version) Info.Dev_Version = NativeText.Read(p, 64);
            fixed (byte* p = n.Vendor_Info) Info.Vendor_Info = NativeText.Read(p, 64);
            fixed (byte* p = n.SerialNumber) Info.SerialNumber = NativeText.Read(p, 64);
            fixed (byte* p = n.UserName) Info.UserName = NativeText.Read(p, 64);
            Info.Dev_Capability = n.Dev_Capability;
        }

        internal static NativeColorConvMode ToNative(QORCAM_COLORCONVMODE Mode)
        {
            NativeColorConvMode n = new NativeColorConvMode();
            n.StoreMode = (UInt32)Mode.StoreMode;
            n.ShiftID = (Int32)Mode.ShiftID;
            n.DIBMode = (UInt32)Mode.DIBMode;
            n.BayerRevision_G = Mode.BayerRevision_G ? 1 : 0;
            n.Parallel_Flag = Mode.Parallel_Flag ? 1 : 0;
            return n;
        }

        internal static NativeColorValue ToNative(QORCAM_COLORVALUE Value)
        {
            NativeColorValue n = new NativeColorValue();
            n.R_Value = Value.R_Value;
            n.G1_Value = Value.G1_Value;
            n.G2_Value = Value.G2_Value;
            n.B_Value = Value.B_Value;
            return n;
        }
    }
}
