// QORCAM.List: the camera list by the library's size query.
using System;
using System.Runtime.InteropServices;

namespace QorCamDotNet
{
    public partial class QORCAM
    {
        internal const int CameraInfoSize = 532;
        internal const int ListHeaderSize = 4;
        // Cameras that come and go between the size query and the fill make the library refuse the
        // room; the query is repeated, but not without end when the library keeps refusing.
        internal const int GetListAttempts = 16;

        /// <summary>True in every case; an empty array when no camera is present (or the library kept
        /// refusing). Never reads more records than the room it gave the library.</summary>
        public static unsafe bool GetList(out QORCAM_CAMERAINFO[] Info)
        {
            UInt32 count = QueryCount();
            UInt32 filled = 0;
            IntPtr room = IntPtr.Zero;
            try {
                for (int attempt = 0; count != 0 && attempt < GetListAttempts; attempt++) {
                    long bytes = (long)count * CameraInfoSize + Marshal.SizeOf(typeof(NativeList));
                    room = Marshal.AllocHGlobal(new IntPtr(bytes));
                    ((NativeList*)room)->Count = count;
                    IntPtr list = room;
                    if (LibraryCall.Bool(() => QorCamNative.QORCAM_GetList(list))) {
                        filled = Math.Min(((NativeList*)room)->Count, count);
                        break;
                    }
                    Marshal.FreeHGlobal(room);
                    room = IntPtr.Zero;
                    count = QueryCount();
                }
                Info = new QORCAM_CAMERAINFO[filled];
                for (UInt32 i = 0; i < filled; i++) {
                    byte* record = (byte*)room + ListHeaderSize + (long)i * CameraInfoSize;
                    RecordCopy.CameraInfo((NativeCameraInfo*)record, ref Info[i]);
                }
            } finally {
                if (room != IntPtr.Zero) Marshal.FreeHGlobal(room);
            }
            return true;
        }

        private static UInt32 QueryCount()
        {
            NativeList query = new NativeList();
            query.Count = 0;
            UInt32 count = 0;
            unsafe {
                IntPtr list = (IntPtr)(&query);
                LibraryCall.Bool(() => QorCamNative.QORCAM_GetList(list));
                count = query.Count;
            }
            return count;
        }
    }
}
