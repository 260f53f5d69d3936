// QORCAM_WATCHGIGE: a GigE watch camera chosen by an open request.
using System;

namespace QorCamDotNet
{
    public class QORCAM_WATCHGIGE : QORCAM_WATCH
    {
        public QORCAM_WATCHGIGE(QORCAM_OPENREQUEST Req) : base(true)
        {
            try {
                OpenByRequest(Req, 1, true, QorCamNative.QORCAM_WatchOpenGigE);
            } catch {
                Dispose(true);
                throw;
            }
        }

        public QORCAM_WATCHGIGE(UInt64 UID) : base(UID)
        {
        }

        public QORCAM_WATCHGIGE() : base()
        {
        }

        protected override void Dispose(bool disposing)
        {
            base.Dispose(disposing);
        }
    }
}
