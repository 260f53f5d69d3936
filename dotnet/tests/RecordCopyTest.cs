// RecordCopyTest: library records read into their managed twins field by field.
using System;
using System.Runtime.InteropServices;
using System.Text;
using NUnit.Framework;

namespace QorCamDotNet.Tests
{
    [TestFixture]
    public unsafe class RecordCopyTest
    {
        private static void Put(byte* field, string text)
        {
            byte[] bytes = Encoding.ASCII.GetBytes(text);
            for (int i = 0; i < bytes.Length; i++) field[i] = bytes[i];
        }

        [Test]
        public void GigECameraInfoCopiesEveryFieldAndANewAddressArray()
        {
            NativeGigECameraInfo n = new NativeGigECameraInfo();
            n.BusNumber = 4;
            for (int i = 0; i < 6; i++) n.MACAddr[i] = (byte)(0xA0 + i);
            n.Spec_Major = 2;
            n.Spec_Minor = 0xFFFF;
            n.Dev_Mode = 0x80000000;
            Put(n.VendorName, "Vendor");
            Put(n.ModelName, "Model");
            Put(n.Dev_Ver, "1.0");
            Put(n.Vendor_Info, "info");
            Put(n.SerialNumber, "0123456789ABCDEF"); // fills its 16 bytes, no zero
            Put(n.UserName, "cam");
            QORCAM_GIGECAMERAINFO info = new QORCAM_GIGECAMERAINFO();
            RecordCopy.GigECameraInfo(ref n, ref info);
            byte[] first = info.MACAddr;
            Assert.AreEqual(new byte[] { 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5 }, first);
            Assert.AreEqual(4u, info.BusNumber);
            Assert.AreEqual(2, info.Spec_Major);
            Assert.AreEqual(65535, info.Spec_Minor);
            Assert.AreEqual(0x80000000u, info.Dev_Mode);
            Assert.AreEqual(new[] { "Vendor", "Model", "1.0", "info", "0123456789ABCDEF", "cam" },
                            new[] { info.VendorName, info.ModelName, info.Dev_Ver, info.Vendor_Info, info.SerialNumber,
                                    info.UserName });
            RecordCopy.GigECameraInfo(ref n, ref info);
            Assert.AreNotSame(first, info.MACAddr, "every copy makes a new array");
        }

        [Test]
        public void UsbCameraInfoCopiesEveryField()
        {
            NativeUsbCameraInfo n = new NativeUsbCameraInfo();
            n.BusNumber = 1;
            n.GenCP_Version = 0x00010002;
            Put(n.VendorName, "V");
            Put(n.ModelName, "M");
            Put(n.FamilyName, "F");
            Put(n.Dev_Version, "D");
            Put(n.Vendor_Info, "I");
            Put(n.SerialNumber, "S");
            Put(n.UserName, new string('u', 64));
            n.Dev_Capability = 0xFFFFFFFFFFFFFFFFUL;
            QORCAM_USBCAMERAINFO info = new QORCAM_USBCAMERAINFO();
            RecordCopy.UsbCameraInfo(ref n, ref info);
            Assert.AreEqual(0x00010002u, info.GenCP_Version);
            Assert.AreEqual(new[] { "V", "M", "F", "D", "I", "S" },
                            new[] { info.VendorName, info.ModelName, info.FamilyName, info.Dev_Version, info.Vendor_Info,
                                    info.SerialNumber });
            Assert.AreEqual(new string('u', 64), info.UserName);
            Assert.AreEqual(0xFFFFFFFFFFFFFFFFUL, info.Dev_Capability);
        }

        [Test]
        public void GetImageStructReadsALibraryImageRecord()
        {
            NativeImage n = new NativeImage();
            n.Width = 640;
            n.Height = 480;
            n.pBuffer = new IntPtr(0x1000);
            n.Length = 307200;
            n.PixelFormatID = 0x01080001;
            n.EndianMode = 1;
            n.Status = -1;
            QORCAM_IMAGE info = new QORCAM_IMAGE();
            QORCAM.GetImageStruct((IntPtr)(&n), ref info);
            Assert.AreEqual(640u, info.Width);
            Assert.AreEqual(480u, info.Height);
            Assert.AreEqual(new IntPtr(0x1000), info.pBuffer);
            Assert.AreEqual(307200u, info.Length);
            Assert.AreEqual(0x01080001u, info.PixelFormatID);
            Assert.AreEqual(QORCAM_ENDIAN.QORCAM_LITTLEENDIAN, info.EndianMode);
            Assert.AreEqual(STATUS_RTNCODE.STATUSQORCAM_REQUEST_PENDING, info.Status);
        }
    }
}
