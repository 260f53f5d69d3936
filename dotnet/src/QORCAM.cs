// QORCAM: one camera held through the library; the library-wide functions as static methods.
using System;
using System.Runtime.InteropServices;

namespace QorCamDotNet
{
    /// <summary>A camera object either holds no camera (its opening failed, or it was disposed) or holds
    /// one library handle and that camera's node map, never replaced. Constructors never throw for a
    /// camera that cannot be opened; IsQorCam_Ready tells, GetLastError says why. Every method reports
    /// failure as false; failures the binding finds itself set no library error.</summary>
    public partial class QORCAM : IDisposable
    {
        internal const UInt64 AnyCamera = 0xFFFFFFFFFFFFFFFFUL;
        internal const int MaxUserNameLength = 15;

        internal IntPtr m_hCamera;
        internal IntPtr m_pNodeMap;
        internal bool m_Watch_Flag;
        internal UInt32 m_CameraType;
        internal GCHandle m_ParamCB;

        protected QORCAM(bool Watch_Flag)
        {
            Init();
            m_Watch_Flag = Watch_Flag;
        }

        public QORCAM(UInt64 UID)
        {
            Init();
            OpenByNumber(UID, false);
        }

        public QORCAM() : this(AnyCamera)
        {
        }

        ~QORCAM()
        {
            Dispose(false);
        }

        private void Init()
        {
            m_hCamera = IntPtr.Zero;
            m_pNodeMap = IntPtr.Zero;
            m_Watch_Flag = false;
            m_CameraType = 0;
            m_ParamCB = GCHandle.Alloc(this, GCHandleType.Normal);
        }

        /// <summary>Opens by camera number: open, node map, camera information; the handle is kept only
        /// when all three succeed, and closed again otherwise.</summary>
        internal void OpenByNumber(UInt64 UID, bool watch)
        {
            IntPtr h = IntPtr.Zero;
            bool opened = watch ? LibraryCall.Bool(() => QorCamNative.QORCAM_WatchOpen(UID, out h))
                                : LibraryCall.Bool(() => QorCamNative.QORCAM_Open(UID, out h));
            if (!opened) return;
            IntPtr map = IntPtr.Zero;
            NativeCameraInfo info = new NativeCameraInfo();
            if (LibraryCall.Bool(() => QorCamNative.QORCAM_GetNodeMap(h, out map)) &&
                LibraryCall.Bool(() => QorCamNative.QORCAM_CameraInfo(h, out info))) {
                Hold(h, map, info.CameraType);
                return;
            }
            CloseAtOnce(h, watch);
        }

        /// <summary>Opens by an open request with the given export; camera type fixed by the variant.</summary>
        internal unsafe void OpenByRequest(QORCAM_OPENREQUEST Req, UInt32 cameraType, bool watch,
                                           OpenRequestCall open)
        {
            if (Req.UserName != null && Req.UserName.Length > MaxUserNameLength) return;
            NativeOpenRequest request = new NativeOpenRequest();
            request.UID = Req.UID;
            request.URLIdx = Req.URLIdx;
            NativeText.WriteAscii(request.UserName, 64, Req.UserName);
            IntPtr h = IntPtr.Zero;
            if (!LibraryCall.Bool(() => open(ref request, out h))) return;
            IntPtr map = IntPtr.Zero;
            if (LibraryCall.Bool(() => QorCamNative.QORCAM_GetNodeMap(h, out map))) {
                Hold(h, map, cameraType);
                return;
            }
            CloseAtOnce(h, watch);
        }

        internal delegate Int32 OpenRequestCall(ref NativeOpenRequest Request, out IntPtr phCamera);

        private void Hold(IntPtr h, IntPtr map, UInt32 cameraType)
        {
            m_hCamera = h;
            m_pNodeMap = map;
            m_CameraType = cameraType;
        }

        /// <summary>Closes a handle whose opening failed half-way; GetLastError still tells the step
        /// that failed, not the close.</summary>
        private static void CloseAtOnce(IntPtr h, bool watch)
        {
            if (h == IntPtr.Zero) return;
            LibraryCall.KeepReason(() => {
                if (watch)
                    LibraryCall.Bool(() => QorCamNative.QORCAM_WatchClose(h));
                else
                    LibraryCall.Bool(() => QorCamNative.QORCAM_Close(h));
            });
        }

        // ---- Disposal ------------------------------------------------------------------------------

        public void Dispose()
        {
            Dispose(true);
            GC.SuppressFinalize(this);
        }

        /// <summary>Closes the camera first and only then frees the handle the library's image callback
        /// finds this object by. A second call finds nothing left to do.</summary>
        protected virtual void Dispose(bool disposing)
        {
            DeliveryStopped();
            if (m_hCamera != IntPtr.Zero) {
                IntPtr h = m_hCamera;
                if (m_Watch_Flag)
                    LibraryCall.Bool(() => QorCamNative.QORCAM_WatchClose(h));
                else
                    LibraryCall.Bool(() => QorCamNative.QORCAM_Close(h));
                m_hCamera = IntPtr.Zero;
                m_pNodeMap = IntPtr.Zero;
            }
            if (m_ParamCB.IsAllocated) m_ParamCB.Free();
            m_ImageInfo = new QORCAM_IMAGEDATAINFO();
        }

        // ---- Instance methods ----------------------------------------------------------------------

        public bool IsQorCam_Ready()
        {
            return m_hCamera != IntPtr.Zero;
        }

        public bool Camera(out bool Connect)
        {
            Connect = false;
            if (m_hCamera == IntPtr.Zero) return false;
            Int32 flag = 0;
            if (!LibraryCall.Bool(() => QorCamNative.QORCAM_Camera(m_hCamera, out flag))) return false;
            Connect = flag != 0;
            return true;
        }

        public unsafe bool CameraInfo(ref QORCAM_CAMERAINFO Info)
        {
            if (m_hCamera == IntPtr.Zero) return false;
            NativeCameraInfo n = new NativeCameraInfo();
            if (!LibraryCall.Bool(() => QorCamNative.QORCAM_CameraInfo(m_hCamera, out n))) return false;
            RecordCopy.CameraInfo(ref n, ref Info);
            return true;
        }

        public virtual bool ResourceAlloc()
        {
            return m_hCamera != IntPtr.Zero && LibraryCall.Bool(() => QorCamNative.QORCAM_ResourceAlloc(m_hCamera));
        }

        public virtual bool ResourceRelease()
        {
            return m_hCamera != IntPtr.Zero && LibraryCall.Bool(() => QorCamNative.QORCAM_ResourceRelease(m_hCamera));
        }

        public virtual bool ImageStart()
        {
            return m_hCamera != IntPtr.Zero && LibraryCall.Bool(() => QorCamNative.QORCAM_ImageStart(m_hCamera));
        }

        public virtual bool ImageStop()
        {
            return m_hCamera != IntPtr.Zero && LibraryCall.Bool(() => QorCamNative.QORCAM_ImageStop(m_hCamera));
        }

        public bool ConvMode(QORCAM_COLORCONVMODE Mode, QORCAM_COLORVALUE Value)
        {
            return ConvModeCall(Mode, Value);
        }

        public bool ConvMode(QORCAM_COLORVALUE Value)
        {
            return ConvModeCall(null, Value);
        }

        public bool ConvMode(QORCAM_COLORCONVMODE Mode)
        {
            return ConvModeCall(Mode, null);
        }

        private unsafe bool ConvModeCall(QORCAM_COLORCONVMODE? Mode, QORCAM_COLORVALUE? Value)
        {
            if (m_hCamera == IntPtr.Zero) return false;
            NativeColorConvMode mode = new NativeColorConvMode();
            NativeColorValue value = new NativeColorValue();
            IntPtr pMode = IntPtr.Zero, pValue = IntPtr.Zero;
            if (Mode.HasValue) {
                mode = RecordCopy.ToNative(Mode.Value);
                pMode = (IntPtr)(&mode);
            }
            if (Value.HasValue) {
                value = RecordCopy.ToNative(Value.Value);
                pValue = (IntPtr)(&value);
            }
            return LibraryCall.Bool(() => QorCamNative.QORCAM_ConvMode(m_hCamera, pMode, pValue));
        }

        public bool GetBMPINFO(out Byte[] BitmapInfo, bool Priority_Mono)
        {
            BitmapInfo = null;
            Byte[] header = ReadBitmapInfo(Priority_Mono);
            if (header == null) return false;
            BitmapInfo = header;
            return true;
        }

        public bool GetImageInfo(ref QORCAM_IMAGEINFO ImageInfo)
        {
            Byte[] header = ReadBitmapInfo(false);
            // A header too short to hold the image size gives nothing to read.
            if (header == null || header.Length < BitmapInfoSize.SizeImageOffset + 4) return false;
            ImageInfo.Width = (UInt32)BitConverter.ToInt32(header, BitmapInfoSize.WidthOffset);
            ImageInfo.Height = (UInt32)BitConverter.ToInt32(header, BitmapInfoSize.HeightOffset);
            ImageInfo.RGBLength = BitConverter.ToUInt32(header, BitmapInfoSize.SizeImageOffset);
            return true;
        }

        /// <summary>The DIB header by the library's size query; null on failure. The size the library
        /// writes back is believed only up to the room it was given.</summary>
        private Byte[] ReadBitmapInfo(bool mono)
        {
            if (m_hCamera == IntPtr.Zero) return null;
            Int32 monoFlag = mono ? 1 : 0;
            UInt32 size = 0;
            if (!LibraryCall.Bool(() => QorCamNative.QORCAM_GetBMPINFO(m_hCamera, IntPtr.Zero, ref size, monoFlag)))
                return null;
            if (size == 0 || size > Int32.MaxValue) return null;
            UInt32 room = size;
            IntPtr buffer = Marshal.AllocHGlobal((int)room);
            try {
                if (!LibraryCall.Bool(() => QorCamNative.QORCAM_GetBMPINFO(m_hCamera, buffer, ref size, monoFlag)))
                    return null;
                Byte[] header = new Byte[Math.Min(size, room)];
                Marshal.Copy(buffer, header, 0, header.Length);
                return header;
            } finally {
                Marshal.FreeHGlobal(buffer);
            }
        }

        public bool BufferConvExec(IntPtr InBuf, IntPtr OutBuf)
        {
            if (m_hCamera == IntPtr.Zero) return false;
            try {
                return LibraryCall.Bool(() => QorCamNative.QORCAM_BufferConvExec(m_hCamera, InBuf, OutBuf));
            } catch (Exception) {
                return false;
            }
        }

        public bool ImageConvExec(IntPtr Image, IntPtr OutBuf)
        {
            if (m_hCamera == IntPtr.Zero) return false;
            try {
                return LibraryCall.Bool(() => QorCamNative.QORCAM_ImageConvExec(m_hCamera, Image, OutBuf));
            } catch (Exception) {
                return false;
            }
        }

        public bool ImageAlloc(out IntPtr Image)
        {
            Image = IntPtr.Zero;
            if (m_hCamera == IntPtr.Zero) return false;
            IntPtr p = IntPtr.Zero;
            if (!LibraryCall.Bool(() => QorCamNative.QORCAM_ImageAlloc(m_hCamera, out p))) return false;
            Image = p;
            return true;
        }

        /// <summary>One library image per element; all or none: a failure frees what this call allocated.</summary>
        public bool ImageAlloc(ref IntPtr[] Image)
        {
            if (m_hCamera == IntPtr.Zero || Image == null || Image.Length == 0) return false;
            IntPtr[] got = new IntPtr[Image.Length];
            for (int i = 0; i < got.Length; i++) {
                IntPtr p = IntPtr.Zero;
                if (!LibraryCall.Bool(() => QorCamNative.QORCAM_ImageAlloc(m_hCamera, out p))) {
                    for (int j = 0; j < i; j++) {
                        IntPtr q = got[j];
                        LibraryCall.Bool(() => QorCamNative.QORCAM_ImageFree(m_hCamera, q));
                    }
                    return false;
                }
                got[i] = p;
            }
            Array.Copy(got, Image, got.Length);
            return true;
        }

        public bool ImageFree()
        {
            return m_hCamera != IntPtr.Zero && LibraryCall.Bool(() => QorCamNative.QORCAM_ImageFreeAll(m_hCamera));
        }

        public bool ImageFree(IntPtr Image)
        {
            return m_hCamera != IntPtr.Zero && LibraryCall.Bool(() => QorCamNative.QORCAM_ImageFree(m_hCamera, Image));
        }

        public bool ImageReq(IntPtr Image)
        {
            return m_hCamera != IntPtr.Zero && LibraryCall.Bool(() => QorCamNative.QORCAM_ImageReq(m_hCamera, Image));
        }

        public bool ImageComplete(IntPtr Image, UInt32 Timeout)
        {
            return m_hCamera != IntPtr.Zero &&
                   LibraryCall.Bool(() => QorCamNative.QORCAM_ImageComplete(m_hCamera, Image, Timeout, IntPtr.Zero));
        }

        public unsafe bool ImageComplete(IntPtr Image, UInt32 Timeout, ref QORCAM_IMAGEDATAINFO Info)
        {
            if (m_hCamera == IntPtr.Zero) return false;
            NativeImageDataInfo record = new NativeImageDataInfo();
            IntPtr pRecord = (IntPtr)(&record);
            if (!LibraryCall.Bool(() => QorCamNative.QORCAM_ImageComplete(m_hCamera, Image, Timeout, pRecord)))
                return false;
            SetImageDataInfo(&record, ref Info);
            return true;
        }

        public bool ImageReqAbortAll()
        {
            return m_hCamera != IntPtr.Zero && LibraryCall.Bool(() => QorCamNative.QORCAM_ImageReqAbortAll(m_hCamera));
        }

        public bool VSyncReq(out IntPtr Hd)
        {
            Hd = IntPtr.Zero;
            if (m_hCamera == IntPtr.Zero) return false;
            IntPtr hd = IntPtr.Zero;
            if (!LibraryCall.Bool(() => QorCamNative.QORCAM_VSyncReq(m_hCamera, out hd))) return false;
            Hd = hd;
            return true;
        }

        public bool VSyncComplete(IntPtr Hd, UInt32 TimeOut)
        {
            return m_hCamera != IntPtr.Zero && LibraryCall.Bool(() => QorCamNative.QORCAM_VSyncComplete(m_hCamera, Hd, TimeOut));
        }

        public unsafe bool CameraInfoGigE(ref QORCAM_GIGECAMERAINFO Info)
        {
            if (m_hCamera == IntPtr.Zero) return false;
            NativeGigECameraInfo n = new NativeGigECameraInfo();
            if (!LibraryCall.Bool(() => QorCamNative.QORCAM_CameraInfoGigE(m_hCamera, out n))) return false;
            RecordCopy.GigECameraInfo(ref n, ref Info);
            return true;
        }

        public unsafe bool CameraInfoUSB(ref QORCAM_USBCAMERAINFO Info)
        {
            if (m_hCamera == IntPtr.Zero) return false;
            NativeUsbCameraInfo n = new NativeUsbCameraInfo();
            if (!LibraryCall.Bool(() => QorCamNative.QORCAM_CameraInfoUSB(m_hCamera, out n))) return false;
            RecordCopy.UsbCameraInfo(ref n, ref Info);
            return true;
        }

        public bool GetGigEPktLog(ref QORCAM_PKTLOG Log)
        {
            if (m_hCamera == IntPtr.Zero) return false;
            NativePktLog n = new NativePktLog();
            if (!LibraryCall.Bool(() => QorCamNative.QORCAM_GetGigEPktLog(m_hCamera, out n))) return false;
            Log.TotalPktCount = n.TotalPktCount;
            Log.ErrorPktCount = n.ErrorPktCount;
            Log.RetryCount = n.RetryCount;
            return true;
        }

        public bool TestStreamGigE()
        {
            return m_hCamera != IntPtr.Zero && LibraryCall.Bool(() => QorCamNative.QORCAM_TestStream(m_hCamera));
        }

        /// <summary>IPAddr holds the 4 bytes of the stream destination, first byte first; a shorter
        /// array is refused, since the library reads four bytes from it.</summary>
        public bool ResourceAllocGigE(Byte[] IPAddr, bool Recover)
        {
            if (m_hCamera == IntPtr.Zero) return false;
            if (IPAddr != null && IPAddr.Length < 4) return false;
            Int32 recover = Recover ? 1 : 0;
            return LibraryCall.Bool(() => QorCamNative.QORCAM_ResourceAllocGigE(m_hCamera, IPAddr, recover));
        }

        public bool ResourceAllocGigE(bool Recover)
        {
            return ResourceAllocGigE(null, Recover);
        }

        public bool ReadPort(UInt64 Addr, Byte[] Value)
        {
            if (m_hCamera == IntPtr.Zero) return false;
            UInt32 length = Value == null ? 0u : (UInt32)Value.Length;
            UInt32 address = unchecked((UInt32)Addr);
            return LibraryCall.Bool(() => QorCamNative.QORCAM_ReadPort(m_hCamera, address, Value, ref length));
        }

        public bool WritePort(UInt64 Addr, Byte[] Value)
        {
            if (m_hCamera == IntPtr.Zero) return false;
            UInt32 length = Value == null ? 0u : (UInt32)Value.Length;
            UInt32 address = unchecked((UInt32)Addr);
            return LibraryCall.Bool(() => QorCamNative.QORCAM_WritePort(m_hCamera, address, Value, ref length));
        }

        /// <summary>Passed on even without a camera: the library refuses the null handle itself.</summary>
        public bool SetCmdTimeOut(UInt32 TimeOut)
        {
            return LibraryCall.Bool(() => QorCamNative.QORCAM_SetCmdTimeOut(m_hCamera, TimeOut));
        }

        // ---- Static methods ------------------------------------------------------------------------

        /// <summary>Only the binding's own structure version is passed on; any other value does nothing.</summary>
        public static void SetStructVersion(int Version)
        {
            if (Version != Constants.LIBRARY_STRUCT_VERSION) return;
            LibraryCall.Bool(() => QorCamNative.QORCAM_SetStructVersion((UInt32)Constants.LIBRARY_STRUCT_VERSION));
        }

        public static STATUS_RTNCODE GetLastError()
        {
            return LibraryCall.LastError();
        }

        public static UInt32 GetLibraryRevision()
        {
            return LibraryCall.UInt(() => QorCamNative.QORCAM_GetLibraryRevision(), 0);
        }

        public static bool Reset()
        {
            return LibraryCall.Bool(() => QorCamNative.QORCAM_Reset());
        }

        public static void ReDetection()
        {
            LibraryCall.Void(() => QorCamNative.QORCAM_ReDetection());
        }

        /// <summary>Reads a library image record; no library call.</summary>
        public static void GetImageStruct(IntPtr Image, ref QORCAM_IMAGE Info)
        {
            if (Image == IntPtr.Zero) return;
            NativeImage n = (NativeImage)Marshal.PtrToStructure(Image, typeof(NativeImage));
            Info.Width = n.Width;
            Info.Height = n.Height;
            Info.pBuffer = n.pBuffer;
            Info.Length = n.Length;
            Info.PixelFormatID = n.PixelFormatID;
            Info.EndianMode = (QORCAM_ENDIAN)n.EndianMode;
            Info.Status = (STATUS_RTNCODE)n.Status;
        }

        public static bool MonoBMPINFO(IntPtr Image, out Byte[] BitmapInfo)
        {
            Byte[] header = new Byte[BitmapInfoSize.Palette];
            BitmapInfo = header;
            return LibraryCall.Bool(() => QorCamNative.QORCAM_MonoBMPINFO(Image, header));
        }
    }
}
