// QORCOMV: a stand-alone conversion object of the library, for images without an open camera.
using System;
using System.Runtime.InteropServices;

namespace QorCamDotNet
{
    /// <summary>Holds one conversion handle from construction to Dispose, or is never built: a handle
    /// the library refuses makes the constructor throw. An object never disposed keeps its handle
    /// until the library itself unloads. After Dispose the methods report false without a call.</summary>
    public class QORCOMV : IDisposable
    {
        internal IntPtr m_hTbl;

        public QORCOMV(QORCAM_COLORCONVMODE Mode, QORCAM_COLORVALUE Value)
        {
            Create(Mode, Value);
        }

        public QORCOMV(QORCAM_COLORVALUE Value)
        {
            Create(null, Value);
        }

        public QORCOMV(QORCAM_COLORCONVMODE Mode)
        {
            Create(Mode, null);
        }

        public QORCOMV()
        {
            Create(null, null);
        }

        private unsafe void Create(QORCAM_COLORCONVMODE? Mode, QORCAM_COLORVALUE? Value)
        {
            m_hTbl = IntPtr.Zero;
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
            IntPtr h = IntPtr.Zero;
            if (!LibraryCall.Bool(() => QorCamNative.QORCAM_CreateConvHandle(out h, pMode, pValue)) || h == IntPtr.Zero)
                throw new SEHException("Paramter Error");
            m_hTbl = h;
        }

        public bool ConvExec(IntPtr Image, IntPtr OutBuf)
        {
            if (m_hTbl == IntPtr.Zero) return false;
            return LibraryCall.Bool(() => QorCamNative.QORCAM_ColorConvExec(m_hTbl, Image, OutBuf));
        }

        /// <summary>Always hands back a new 44-byte array, also when the call fails.</summary>
        public bool GetBMPINFO(IntPtr Image, out Byte[] BitmapInfo)
        {
            Byte[] header = new Byte[BitmapInfoSize.Plain];
            BitmapInfo = header;
            if (m_hTbl == IntPtr.Zero) return false;
            return LibraryCall.Bool(() => QorCamNative.QORCAM_ColorConvGetBMPINFO(m_hTbl, Image, header));
        }

        public void Dispose()
        {
            Dispose(true);
            GC.SuppressFinalize(this);
        }

        protected virtual void Dispose(bool disposing)
        {
            if (m_hTbl == IntPtr.Zero) return;
            IntPtr h = m_hTbl;
            m_hTbl = IntPtr.Zero;
            LibraryCall.Void(() => QorCamNative.QORCAM_CloseConvHandle(h));
        }
    }
}
