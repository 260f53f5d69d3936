// LibraryCall: runs one library call so that an export the library lacks gives the call's documented failure.
using System;

namespace QorCamDotNet
{
    /// <summary>Guarantees that a missing export or a missing library never leaves the binding as an
    /// exception: a BOOL call reports false, a call without result does nothing, and the calling
    /// thread's GetLastError then answers STATUSQORCAM_LIBRARY_CONTRADICTION until its next library
    /// call reaches the library.</summary>
    internal static class LibraryCall
    {
        [ThreadStatic] private static bool s_Missing;

        internal delegate Int32 BoolCall();
        internal delegate void VoidCall();

        /// <summary>True when the calling thread's last library call found no such export.</summary>
        internal static bool Missing
        {
            get { return s_Missing; }
        }

        internal static bool IsMissingExport(Exception e)
        {
            return e is EntryPointNotFoundException || e is DllNotFoundException;
        }

        internal static bool Bool(BoolCall call)
        {
            s_Missing = false;
            try {
                return call() != 0;
            } catch (Exception e) when (IsMissingExport(e)) {
                s_Missing = true;
                return false;
            }
        }

        internal static void Void(VoidCall call)
        {
            s_Missing = false;
            try {
                call();
            } catch (Exception e) when (IsMissingExport(e)) {
                s_Missing = true;
            }
        }

        internal static UInt32 UInt(Func<UInt32> call, UInt32 otherwise)
        {
            s_Missing = false;
            try {
                return call();
            } catch (Exception e) when (IsMissingExport(e)) {
                s_Missing = true;
                return otherwise;
            }
        }
    }
}
