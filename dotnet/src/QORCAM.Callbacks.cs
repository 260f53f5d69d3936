// QORCAM.Callbacks: the system and image callbacks bridged to delegates, and the per-image record copy.
using System;
using System.Runtime.InteropServices;

namespace QorCamDotNet
{
    public partial class QORCAM
    {
        public delegate void SystemFunc(STATUS_SYSTEMCODE Statsu, IntPtr Context);

        /// <summary>pBuf is the library's image memory: valid while the delegate runs (the last image of a
        /// stream until the camera's resources are released or the next delivery starts); copy what must
        /// live longer.</summary>
        public delegate void ImageFunc(QORCAM h_Camera, IntPtr pBuf, UInt32 Length, UInt32 Width, UInt32 Height,
                                       QORCAM_IMAGEDATAINFO Info, IntPtr Context);

        internal static SystemFunc m_SystemCb;
        internal ImageFunc m_ImageCb;
        internal IntPtr m_ImageContext;
        internal QORCAM_IMAGEDATAINFO m_ImageInfo;

        // The library keeps only these functions' native addresses: the delegates behind them must
        // live as long as the process does.
        internal static readonly NativeSystemCallBack SystemCallBackEntry = SystemCallBack;
        internal static readonly NativeImageCallBack ImageCallBackEntry = ImageCallBack;

        /// <summary>One system delegate per process; a later call replaces it.</summary>
        public static void SetCallBack(IntPtr Context, SystemFunc Cb)
        {
            m_SystemCb = Cb;
            LibraryCall.Void(() => QorCamNative.QORCAM_SetCallBack(Context, SystemCallBackEntry));
        }

        public static void SetCallBack(SystemFunc Cb)
        {
            SetCallBack(IntPtr.Zero, Cb);
        }

        /// <summary>Call it while no delivery runs: the record handed to the delegate is reset here.</summary>
        public bool SetImageCallBack(IntPtr Context, ImageFunc ImageCb, UInt32 BufferCount, bool InfoSet_Flag)
        {
            if (m_hCamera == IntPtr.Zero || !m_ParamCB.IsAllocated) return false;
            m_ImageCb = ImageCb;
            m_ImageContext = Context;
            m_ImageInfo = new QORCAM_IMAGEDATAINFO();
            IntPtr self = GCHandle.ToIntPtr(m_ParamCB);
            Int32 info = InfoSet_Flag ? 1 : 0;
            bool started = LibraryCall.Bool(() => QorCamNative.QORCAM_SetImageCallBack(m_hCamera, self,
                                                                                       ImageCallBackEntry,
                                                                                       BufferCount, info));
            if (started) DeliveryStarted();
            return started;
        }

        public bool SetImageCallBack(ImageFunc ImageCb, UInt32 BufferCount, bool InfoSet_Flag)
        {
            return SetImageCallBack(IntPtr.Zero, ImageCb, BufferCount, InfoSet_Flag);
        }

        /// <summary>Ends the library's delivery for this camera; returns once no callback runs any more.</summary>
        public bool SetImageCallBack()
        {
            if (m_hCamera == IntPtr.Zero) return false;
            DeliveryStopped();
            return LibraryCall.Bool(() => QorCamNative.QORCAM_SetImageCallBack(m_hCamera, IntPtr.Zero, null, 0, 0));
        }

        // The runtime waits at a program's end for every thread that entered it: a library thread that
        // delivers images would keep a program that ends without stopping its cameras from ending. The
        // deliveries still running when the process ends are stopped then.
        private static readonly object s_DeliveriesLock = new object();
        private static readonly System.Collections.Generic.HashSet<QORCAM> s_Deliveries =
            new System.Collections.Generic.HashSet<QORCAM>();
        private static bool s_ExitHooked;

        private void DeliveryStarted()
        {
            lock (s_DeliveriesLock) {
                if (!s_ExitHooked) {
                    AppDomain.CurrentDomain.ProcessExit += StopDeliveries;
                    s_ExitHooked = true;
                }
                s_Deliveries.Add(this);
            }
        }

        internal void DeliveryStopped()
        {
            lock (s_DeliveriesLock) s_Deliveries.Remove(this);
        }

        private static void StopDeliveries(object sender, EventArgs e)
        {
            QORCAM[] running;
            lock (s_DeliveriesLock) {
                running = new QORCAM[s_Deliveries.Count];
                s_Deliveries.CopyTo(running);
                s_Deliveries.Clear();
            }
            foreach (QORCAM camera in running) {
                try {
                    IntPtr h = camera.m_hCamera;
                    if (h != IntPtr.Zero) QorCamNative.QORCAM_SetImageCallBack(h, IntPtr.Zero, null, 0, 0);
                } catch (Exception) {
                }
            }
        }

        // An exception thrown by the application's delegate must not unwind through the library's
        // threads: it is dropped here, and the library goes on with the next event or buffer.
        // The library's threads enter the runtime here; as background threads they don't keep a
        // program that ends without stopping its cameras from ending.
        private static void SystemCallBack(Int32 Status, IntPtr Context)
        {
            try {
                System.Threading.Thread.CurrentThread.IsBackground = true;
                SystemFunc cb = m_SystemCb;
                if (cb != null) cb((STATUS_SYSTEMCODE)Status, Context);
            } catch (Exception) {
            }
        }

        private static void ImageCallBack(IntPtr hCamera, IntPtr pBuffer, UInt32 Length, UInt32 Width, UInt32 Height,
                                          IntPtr pInfo, IntPtr Context)
        {
            try {
                System.Threading.Thread.CurrentThread.IsBackground = true;
                if (Context == IntPtr.Zero) return;
                QORCAM camera = GCHandle.FromIntPtr(Context).Target as QORCAM;
                if (camera != null) camera.ICallBack(hCamera, pBuffer, Length, Width, Height, pInfo);
            } catch (Exception) {
            }
        }

        internal unsafe void ICallBack(IntPtr hCamera, IntPtr pBuffer, UInt32 Length, UInt32 Width, UInt32 Height,
                                       IntPtr pInfo)
        {
            if (pInfo != IntPtr.Zero) {
                m_ImageInfo = new QORCAM_IMAGEDATAINFO();
                SetImageDataInfo((NativeImageDataInfo*)pInfo, ref m_ImageInfo);
            }
            ImageFunc cb = m_ImageCb;
            if (cb != null) cb(this, pBuffer, Length, Width, Height, m_ImageInfo, m_ImageContext);
        }

        /// <summary>Fills the part of Info that this camera's type names, from the library's record;
        /// every other part of Info keeps what it held.</summary>
        internal unsafe void SetImageDataInfo(NativeImageDataInfo* pComInfo, ref QORCAM_IMAGEDATAINFO Info)
        {
            switch (m_CameraType) {
            case 0:
                Info.CType = QORCAM_CAMERATYPE.QORCAM_CAMERA1394;
                Info.C1394 = Read1394(pComInfo);
                break;
            case 1:
                Info.CType = QORCAM_CAMERATYPE.QORCAM_CAMERAGIGE;
                Info.CGigE = ReadGigE(pComInfo);
                break;
            case 2:
                Info.CType = QORCAM_CAMERATYPE.QORCAM_CAMERAUSB;
                Info.CUsb = ReadUsb(pComInfo);
                break;
            }
        }

        private static unsafe QORCAM_IMAGEDATAINFO_1394 Read1394(NativeImageDataInfo* p)
        {
            QORCAM_IMAGEDATAINFO_1394 r = new QORCAM_IMAGEDATAINFO_1394();
            r.Speed = (QORCAM_TRANSMITSPEED)p->C1394_Speed;
            r.CycleTime_S = p->C1394_CycleTime_S;
            r.CycleCount_S = p->C1394_CycleCount_S;
            r.CycleTime_E = p->C1394_CycleTime_E;
            r.CycleCount_E = p->C1394_CycleCount_E;
            return r;
        }

        private static unsafe QORCAM_IMAGEDATAINFO_GIGE ReadGigE(NativeImageDataInfo* p)
        {
            QORCAM_IMAGEDATAINFO_GIGE r = new QORCAM_IMAGEDATAINFO_GIGE();
            r.Payload_Flag = p->Payload_Flag != 0;
            QORCAM_GIGESTREAMINFO s = new QORCAM_GIGESTREAMINFO();
            s.Frame_ID = p->Frame_ID;
            s.TimeStamp = p->TimeStamp;
            s.MissingPackets = p->GigE_MissingPackets;
            switch (p->PayloadType) {
            case 1: {
                s.SType = QORCAM_GIGESTREAMTYPE.QORCAM_GIGEIMAGEDATA;
                s.Image = Image(p->GigE_Image);
                break;
            }
            case 2: {
                s.SType = QORCAM_GIGESTREAMTYPE.QORCAM_GIGERAWDATA;
                QORCAM_STREAMINFO_RAW raw = new QORCAM_STREAMINFO_RAW();
                raw.DataSize = p->GigE_Raw_DataSize;
                s.Raw = raw;
                break;
            }
            case 3: {
                s.SType = QORCAM_GIGESTREAMTYPE.QORCAM_GIGEFILEDATA;
                QORCAM_STREAMINFO_FILE f = new QORCAM_STREAMINFO_FILE();
                f.DataSize = p->GigE_Raw_DataSize;
                f.FileName = NativeText.Read(p->GigE_FileName, 256);
                s.File = f;
                break;
            }
            case 4: {
                s.SType = QORCAM_GIGESTREAMTYPE.QORCAM_GIGECHUNKDATA;
                QORCAM_STREAMINFO_CHUNK c = new QORCAM_STREAMINFO_CHUNK();
                c.DataSize = p->GigE_Chunk_DataSize;
                s.Chunk = c;
                break;
            }
            case 5: {
                s.SType = QORCAM_GIGESTREAMTYPE.QORCAM_GIGEEXTCHUNKDATA;
                QORCAM_STREAMINFO_EXT_CHUNK e = new QORCAM_STREAMINFO_EXT_CHUNK();
                e.Pixel_Type = p->GigE_Image.Pixel_Type;
                e.Width = p->GigE_Image.Width;
                e.Height = p->GigE_Image.Height;
                e.Offset_X = p->GigE_Image.Offset_X;
                e.Offset_Y = p->GigE_Image.Offset_Y;
                e.Padding_X = p->GigE_Image.Padding_X;
                e.Padding_Y = p->GigE_Image.Padding_Y;
                e.DataSize = p->GigE_Ext_DataSize;
                e.Size_Y = p->GigE_Ext_Size_Y;
                e.Chunk_ID = p->GigE_Ext_Chunk_ID;
                s.Ext_Chunk = e;
                break;
            }
            case 0x8000: {
                s.SType = QORCAM_GIGESTREAMTYPE.QORCAM_GIGEVENDORDATA;
                QORCAM_STREAMINFO_VENDOR v = new QORCAM_STREAMINFO_VENDOR();
                v.VendorData = NativeText.Read(p->GigE_VendorData, 512);
                s.Vendor = v;
                break;
            }
            }
            r.StreamInfo = s;
            return r;
        }

        private static QORCAM_STREAMINFO_IMAGE Image(NativeStreamImage n)
        {
            QORCAM_STREAMINFO_IMAGE i = new QORCAM_STREAMINFO_IMAGE();
            i.Pixel_Type = n.Pixel_Type;
            i.Width = n.Width;
            i.Height = n.Height;
            i.Offset_X = n.Offset_X;
            i.Offset_Y = n.Offset_Y;
            i.Padding_X = n.Padding_X;
            i.Padding_Y = n.Padding_Y;
            i.Size_Y = n.Size_Y;
            return i;
        }

        private static unsafe QORCAM_IMAGEDATAINFO_USB ReadUsb(NativeImageDataInfo* p)
        {
            QORCAM_IMAGEDATAINFO_USB r = new QORCAM_IMAGEDATAINFO_USB();
            r.Payload_Flag = p->Payload_Flag != 0;
            QORCAM_USBSTREAMINFO s = new QORCAM_USBSTREAMINFO();
            s.Frame_ID = p->Frame_ID;
            s.TimeStamp = p->TimeStamp;
            s.DataSize = p->Usb_DataSize;
            switch (p->PayloadType) {
            case 1: {
                s.SType = QORCAM_USBSTREAMTYPE.QORCAM_USBIMAGEDATA;
                s.Image = Image(p->Usb_Image);
                break;
            }
            case 0x4000: {
                s.SType = QORCAM_USBSTREAMTYPE.QORCAM_USBCHUNKDATA;
                QORCAM_STREAMINFOUSB_CHUNK c = new QORCAM_STREAMINFOUSB_CHUNK();
                c.Chunk_ID = p->Usb_Chunk_ID;
                s.Chunk = c;
                break;
            }
            case 0x4001: {
                s.SType = QORCAM_USBSTREAMTYPE.QORCAM_USBEXTCHUNKDATA;
                QORCAM_STREAMINFOUSB_EXT_CHUNK e = new QORCAM_STREAMINFOUSB_EXT_CHUNK();
                e.Pixel_Type = p->Usb_Image.Pixel_Type;
                e.Width = p->Usb_Image.Width;
                e.Height = p->Usb_Image.Height;
                e.Offset_X = p->Usb_Image.Offset_X;
                e.Offset_Y = p->Usb_Image.Offset_Y;
                e.Padding_X = p->Usb_Image.Padding_X;
                e.Padding_Y = p->Usb_Image.Padding_Y;
                e.Size_Y = p->Usb_Image.Size_Y;
                e.Chunk_ID = p->Usb_Ext_Chunk_ID;
                s.Ext_Chunk = e;
                break;
            }
            }
            r.StreamInfo = s;
            return r;
        }
    }
}
