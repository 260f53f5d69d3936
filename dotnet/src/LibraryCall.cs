// LibraryCall: runs one library call so that an export the library lacks gives the call's documented failure.
using System;

namespace QorCamDotNet
{
    /// <summary>Guarantees that a missing export or a missing library never leaves the binding as an
    /// exception: a BOOL call reports false, a call without result does nothing, and the calling
    /// thread's GetLastError then answers STATUSQORCAM_LIBRARY_CONTRADICTION until its next library
    /// call reaches the library. A clean-up call that follows a failure may keep that failure's
    /// reason (KeepReason), since the clean-up's own success would otherwise clear it.</summary>
    internal static class LibraryCall
    {
        // The reason GetLastError gives instead of asking the library; null: ask the library.
        [ThreadStatic] private static STATUS_RTNCODE? s_Reason;

        internal delegate Int32 BoolCall();
        internal delegate void VoidCall();

        internal static bool IsMissingExport(Exception e)
        {
            return e is EntryPointNotFoundException || e is DllNotFoundException;
        }

        internal static bool Bool(BoolCall call)
        {
            s_Reason = null;
            try {
                return call() != 0;
            } catch (Exception e) when (IsMissingExport(e)) {
                s_Reason = STATUS_RTNCODE.STATUSQORCAM_LIBRARY_CONTRADICTION;
                return false;
            }
        }

        internal static void Void(VoidCall call)
        {
            s_Reason = null;
            try {
                call();
            } catch (Exception e) when (IsMissingExport(e)) {
                s_Reason = STATUS_RTNCODE.STATUSQORCAM_LIBRARY_CONTRADICTION;
            }
        }

        internal static UInt32 UInt(Func<UInt32> call, UInt32 otherwise)
        {
            s_Reason = null;
            try {
                return call();
            } catch (Exception e) when (IsMissingExport(e)) {
                s_Reason = STATUS_RTNCODE.STATUSQORCAM_LIBRARY_CONTRADICTION;
                return otherwise;
            }
        }

        /// <summary>Runs a clean-up after a failed call and keeps the failed call's reason for GetLastError.</summary>
        internal static void KeepReason(VoidCall cleanup)
        {
            STATUS_RTNCODE reason = LastError();
            cleanup();
            s_Reason = reason;
        }

        internal static STATUS_RTNCODE LastError()
        {
            if (s_Reason.HasValue) return s_Reason.Value;
            try {
                return (STATUS_RTNCODE)QorCamNative.QORCAM_GetLastError();
            } catch (Exception e) when (IsMissingExport(e)) {
                return STATUS_RTNCODE.STATUSQORCAM_LIBRARY_CONTRADICTION;
            }
        }
    }
}
