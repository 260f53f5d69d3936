// ImageDataInfoTest: the per-image record copied into the managed record tree by the camera's type.
using System;
using System.Text;
using NUnit.Framework;

namespace QorCamDotNet.Tests
{
    [TestFixture]
    public unsafe class ImageDataInfoTest
    {
        private static QORCAM_IMAGEDATAINFO Copy(uint cameraType, NativeImageDataInfo record, QORCAM_IMAGEDATAINFO info)
        {
            using (MapCamera camera = new MapCamera(IntPtr.Zero, false)) {
                camera.m_CameraType = cameraType;
                camera.SetImageDataInfo(&record, ref info);
            }
            return info;
        }

        /// <summary>A GigE or USB record with the common fields and every payload field filled.</summary>
        private static NativeImageDataInfo Filled(uint payloadType)
        {
            NativeImageDataInfo r = new NativeImageDataInfo();
            byte* p = (byte*)&r;
            for (int i = 28; i < 548; i++) p[i] = (byte)(i & 0x7F);
            r.Payload_Flag = 1;
            r.PayloadType = payloadType;
            r.Frame_ID = 0x1122334455667788UL;
            r.TimeStamp = 0x0102030405060708UL;
            return r;
        }

        [Test]
        public void GigEPayloadTypesFillTheirOwnSubRecordOnly()
        {
            // payload type, stream type, the one sub-record filled
            object[,] cases = {
                { 1u, QORCAM_GIGESTREAMTYPE.QORCAM_GIGEIMAGEDATA, "Image" },
                { 2u, QORCAM_GIGESTREAMTYPE.QORCAM_GIGERAWDATA, "Raw" },
                { 3u, QORCAM_GIGESTREAMTYPE.QORCAM_GIGEFILEDATA, "File" },
                { 4u, QORCAM_GIGESTREAMTYPE.QORCAM_GIGECHUNKDATA, "Chunk" },
                { 5u, QORCAM_GIGESTREAMTYPE.QORCAM_GIGEEXTCHUNKDATA, "Ext_Chunk" },
                { 0x8000u, QORCAM_GIGESTREAMTYPE.QORCAM_GIGEVENDORDATA, "Vendor" },
                { 6u, QORCAM_GIGESTREAMTYPE.QORCAM_GIGEIMAGEDATA, "" },
            };
            for (int i = 0; i < cases.GetLength(0); i++) {
                uint type = (uint)cases[i, 0];
                QORCAM_IMAGEDATAINFO info = Copy(1, Filled(type), new QORCAM_IMAGEDATAINFO());
                string label = "payload type " + type;
                Assert.AreEqual(QORCAM_CAMERATYPE.QORCAM_CAMERAGIGE, info.CType, label);
                Assert.IsTrue(info.CGigE.Value.Payload_Flag, label);
                QORCAM_GIGESTREAMINFO s = info.CGigE.Value.StreamInfo.Value;
                Assert.AreEqual(cases[i, 1], s.SType, label);
                Assert.AreEqual(0x1122334455667788UL, s.Frame_ID, label);
                Assert.AreEqual(0x0102030405060708UL, s.TimeStamp, label);
                string filled = (string)cases[i, 2];
                Assert.AreEqual(filled == "Image", s.Image.HasValue, label + " Image");
                Assert.AreEqual(filled == "Raw", s.Raw.HasValue, label + " Raw");
                Assert.AreEqual(filled == "File", s.File.HasValue, label + " File");
                Assert.AreEqual(filled == "Chunk", s.Chunk.HasValue, label + " Chunk");
                Assert.AreEqual(filled == "Ext_Chunk", s.Ext_Chunk.HasValue, label + " Ext_Chunk");
                Assert.AreEqual(filled == "Vendor", s.Vendor.HasValue, label + " Vendor");
                Assert.IsNull(info.CUsb, label);
                Assert.IsNull(info.C1394, label);
            }
        }

        [Test]
        public void GigEFieldsComeFromTheirOffsets()
        {
            NativeImageDataInfo r = Filled(5);
            r.GigE_Image.Pixel_Type = 0x01080001;
            r.GigE_Image.Width = 640;
            r.GigE_Image.Height = 480;
            r.GigE_Image.Padding_X = 0xFFFF;
            r.GigE_Image.Padding_Y = 7;
            r.GigE_Ext_DataSize = 1234;
            r.GigE_Ext_Size_Y = 99;
            r.GigE_Ext_Chunk_ID = 0xABCD;
            QORCAM_STREAMINFO_EXT_CHUNK e = Copy(1, r, new QORCAM_IMAGEDATAINFO()).CGigE.Value.StreamInfo.Value.Ext_Chunk.Value;
            Assert.AreEqual(0x01080001u, e.Pixel_Type);
            Assert.AreEqual(640u, e.Width);
            Assert.AreEqual(480u, e.Height);
            Assert.AreEqual(65535, e.Padding_X);
            Assert.AreEqual(7, e.Padding_Y);
            Assert.AreEqual(1234u, e.DataSize);
            Assert.AreEqual(99u, e.Size_Y);
            Assert.AreEqual(0xABCDu, e.Chunk_ID);

            r = Filled(3);
            byte[] name = Encoding.ASCII.GetBytes("frame.raw\0junk");
            for (int i = 0; i < name.Length; i++) r.GigE_FileName[i] = name[i];
            r.GigE_Raw_DataSize = 1UL << 40;
            QORCAM_STREAMINFO_FILE f = Copy(1, r, new QORCAM_IMAGEDATAINFO()).CGigE.Value.StreamInfo.Value.File.Value;
            Assert.AreEqual("frame.raw", f.FileName);
            Assert.AreEqual(1UL << 40, f.DataSize);

            r = Filled(0x8000);
            for (int i = 0; i < 512; i++) r.GigE_VendorData[i] = (byte)'v';
            QORCAM_STREAMINFO_VENDOR v = Copy(1, r, new QORCAM_IMAGEDATAINFO()).CGigE.Value.StreamInfo.Value.Vendor.Value;
            Assert.AreEqual(new string('v', 512), v.VendorData, "a text without zero ends with its field");
        }

        [Test]
        public void GigEMissingPacketsComeFromBehindThePayloadUnionForEveryPayloadType()
        {
            // The count lies at byte 540 of the record (532 of the stream information), past the
            // union's largest member, so a vendor block's 512 bytes do not reach it.
            foreach (uint type in new uint[] { 1u, 2u, 3u, 4u, 5u, 0x8000u }) {
                NativeImageDataInfo r = Filled(type);
                r.Payload_Flag = 0;
                byte* p = (byte*)&r;
                p[540] = 0x02;
                p[541] = 0x01;
                p[542] = 0;
                p[543] = 0;
                QORCAM_IMAGEDATAINFO info = Copy(1, r, new QORCAM_IMAGEDATAINFO());
                string label = "payload type " + type;
                Assert.AreEqual(0x102u, info.CGigE.Value.StreamInfo.Value.MissingPackets, label);
                Assert.IsFalse(info.CGigE.Value.Payload_Flag, label + ": a frame with packets missing is not good");
            }
            NativeImageDataInfo whole = Filled(1);
            whole.GigE_MissingPackets = 0;
            Assert.AreEqual(0u, Copy(1, whole, new QORCAM_IMAGEDATAINFO()).CGigE.Value.StreamInfo.Value.MissingPackets);
        }

        [Test]
        public void UsbPayloadTypesFillTheirOwnSubRecord()
        {
            NativeImageDataInfo r = Filled(0x4000);
            r.Usb_DataSize = 4096;
            r.Usb_Chunk_ID = 17;
            QORCAM_USBSTREAMINFO s = Copy(2, r, new QORCAM_IMAGEDATAINFO()).CUsb.Value.StreamInfo.Value;
            Assert.AreEqual(QORCAM_USBSTREAMTYPE.QORCAM_USBCHUNKDATA, s.SType);
            Assert.AreEqual(4096UL, s.DataSize);
            Assert.AreEqual(17u, s.Chunk.Value.Chunk_ID);
            Assert.IsNull(s.Image);
            Assert.IsNull(s.Ext_Chunk);

            r = Filled(0x4001);
            r.Usb_Image.Width = 32;
            r.Usb_Image.Height = 16;
            r.Usb_Image.Padding_X = 0xFFFF;
            r.Usb_Image.Size_Y = 16;
            r.Usb_Ext_Chunk_ID = 0x55;
            s = Copy(2, r, new QORCAM_IMAGEDATAINFO()).CUsb.Value.StreamInfo.Value;
            Assert.AreEqual(QORCAM_USBSTREAMTYPE.QORCAM_USBEXTCHUNKDATA, s.SType);
            Assert.AreEqual(32u, s.Ext_Chunk.Value.Width);
            Assert.AreEqual(16u, s.Ext_Chunk.Value.Height);
            Assert.AreEqual(65535, s.Ext_Chunk.Value.Padding_X);
            Assert.AreEqual(16u, s.Ext_Chunk.Value.Size_Y);
            Assert.AreEqual(0x55u, s.Ext_Chunk.Value.Chunk_ID);
            Assert.IsNull(s.Chunk);

            r = Filled(1);
            r.Usb_Image.Pixel_Type = 0x01100003;
            s = Copy(2, r, new QORCAM_IMAGEDATAINFO()).CUsb.Value.StreamInfo.Value;
            Assert.AreEqual(QORCAM_USBSTREAMTYPE.QORCAM_USBIMAGEDATA, s.SType);
            Assert.AreEqual(0x01100003u, s.Image.Value.Pixel_Type);

            s = Copy(2, Filled(2), new QORCAM_IMAGEDATAINFO()).CUsb.Value.StreamInfo.Value;
            Assert.AreEqual((QORCAM_USBSTREAMTYPE)0, s.SType, "an unknown payload type");
            Assert.IsNull(s.Image);
            Assert.IsNull(s.Chunk);
            Assert.IsNull(s.Ext_Chunk);
        }

        [Test]
        public void TheCamerasTypeChoosesThePartAndOtherPartsKeepTheirValues()
        {
            QORCAM_IMAGEDATAINFO earlier = Copy(1, Filled(1), new QORCAM_IMAGEDATAINFO());
            NativeImageDataInfo usb = Filled(1);
            usb.CType = 1; // the record's own type is not what counts
            QORCAM_IMAGEDATAINFO info = Copy(2, usb, earlier);
            Assert.AreEqual(QORCAM_CAMERATYPE.QORCAM_CAMERAUSB, info.CType);
            Assert.IsTrue(info.CUsb.HasValue);
            Assert.AreEqual(earlier.CGigE.Value.StreamInfo.Value.Frame_ID, info.CGigE.Value.StreamInfo.Value.Frame_ID);
            Assert.IsTrue(info.CGigE.Value.StreamInfo.Value.Image.HasValue, "the old GigE part is unchanged");

            NativeImageDataInfo r1394 = new NativeImageDataInfo();
            r1394.C1394_Speed = 2;
            r1394.C1394_CycleTime_S = 10;
            r1394.C1394_CycleCount_E = 40;
            info = Copy(0, r1394, new QORCAM_IMAGEDATAINFO());
            Assert.AreEqual(QORCAM_CAMERATYPE.QORCAM_CAMERA1394, info.CType);
            Assert.AreEqual(QORCAM_TRANSMITSPEED.QORCAM_S400M, info.C1394.Value.Speed);
            Assert.AreEqual(10u, info.C1394.Value.CycleTime_S);
            Assert.AreEqual(40u, info.C1394.Value.CycleCount_E);

            info = Copy(7, Filled(1), earlier);
            Assert.AreEqual(earlier.CType, info.CType, "an unknown camera type leaves the record as it was");
            Assert.IsNull(info.CUsb);
        }
    }
}
