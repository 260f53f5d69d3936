// QORCAM_USB: a USB3 Vision camera chosen by an open request.
using System;

namespace QorCamDotNet
{
    public class QORCAM_USB : QORCAM
    {
        public QORCAM_USB(QORCAM_OPENREQUEST Req) : base(false)
        {
            try {
                OpenByRequest(Req, 2, false, QorCamNative.QORCAM_OpenUSB);
            } catch {
                Dispose(true);
                throw;
            }
        }

        /// <summary>Opens the numbered camera whatever its transport.</summary>
        public QORCAM_USB(UInt64 UID) : base(UID)
        {
        }

        public QORCAM_USB() : base()
        {
        }

        protected override void Dispose(bool disposing)
        {
            base.Dispose(disposing);
        }
    }
}
