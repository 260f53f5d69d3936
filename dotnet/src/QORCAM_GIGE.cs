// QORCAM_GIGE: a GigE camera chosen by an open request (number, user-defined name or first free).
using System;

namespace QorCamDotNet
{
    public class QORCAM_GIGE : QORCAM
    {
        /// <summary>A user name longer than 15 characters opens nothing; a null one asks for none.</summary>
        public QORCAM_GIGE(QORCAM_OPENREQUEST Req) : base(false)
        {
            try {
                OpenByRequest(Req, 1, false, QorCamNative.QORCAM_OpenGigE);
            } catch {
                Dispose(true);
                throw;
            }
        }

        /// <summary>Opens the numbered camera whatever its transport.</summary>
        public QORCAM_GIGE(UInt64 UID) : base(UID)
        {
        }

        public QORCAM_GIGE() : base()
        {
        }

        protected override void Dispose(bool disposing)
        {
            base.Dispose(disposing);
        }
    }
}
