// QORCAM_WATCH: a read-only watch camera, which receives what another program's camera streams.
using System;

namespace QorCamDotNet
{
    /// <summary>Its stream methods hide the base ones without overriding them: through a QORCAM
    /// reference the normal exports are called, which the library refuses for a watch camera.</summary>
    public class QORCAM_WATCH : QORCAM
    {
        protected QORCAM_WATCH(bool Watch_Flag) : base(Watch_Flag)
        {
        }

        public QORCAM_WATCH(UInt64 UID) : base(true)
        {
            try {
                OpenByNumber(UID, true);
            } catch {
                Dispose(true);
                throw;
            }
        }

        public QORCAM_WATCH() : this(AnyCamera)
        {
        }

        public bool CameraStandby(out bool Standby)
        {
            Standby = false;
            if (m_hCamera == IntPtr.Zero) return false;
            Int32 flag = 0;
            if (!LibraryCall.Bool(() => QorCamNative.QORCAM_WatchCamera(m_hCamera, out flag))) return false;
            Standby = flag != 0;
            return true;
        }

        public new virtual bool ResourceAlloc()
        {
            return m_hCamera != IntPtr.Zero && LibraryCall.Bool(() => QorCamNative.QORCAM_WatchAlloc(m_hCamera));
        }

        public new virtual bool ResourceRelease()
        {
            return m_hCamera != IntPtr.Zero && LibraryCall.Bool(() => QorCamNative.QORCAM_WatchRelease(m_hCamera));
        }

        public new virtual bool ImageStart()
        {
            return m_hCamera != IntPtr.Zero && LibraryCall.Bool(() => QorCamNative.QORCAM_WatchStart(m_hCamera));
        }

        public new virtual bool ImageStop()
        {
            return m_hCamera != IntPtr.Zero && LibraryCall.Bool(() => QorCamNative.QORCAM_WatchStop(m_hCamera));
        }

        protected override void Dispose(bool disposing)
        {
            base.Dispose(disposing);
        }
    }
}
