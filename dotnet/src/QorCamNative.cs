// QorCamNative: the library's exports as the binding calls them.
using System;
using System.Runtime.InteropServices;

namespace QorCamDotNet
{
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    internal delegate void NativeSystemCallBack(Int32 Status, IntPtr Context);

    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    internal delegate void NativeImageCallBack(IntPtr hCamera, IntPtr pBuffer, UInt32 Length, UInt32 Width,
                                               UInt32 Height, IntPtr pInfo, IntPtr Context);

    /// <summary>Every export the binding uses. BOOL results are Int32. An export the library does not
    /// have fails only when it is called, with EntryPointNotFoundException; LibraryCall turns that into
    /// the method's documented failure.</summary>
    internal static class QorCamNative
    {
        internal const string Library = "QorCam";
        private const CallingConvention Cdecl = CallingConvention.Cdecl;

        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_SetStructVersion(UInt32 Version);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern void QORCAM_SetCallBack(IntPtr Context, NativeSystemCallBack CallBack);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_GetLastError();
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern UInt32 QORCAM_GetLibraryRevision();
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_GetList(IntPtr List);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_Open(UInt64 UID, out IntPtr phCamera);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_WatchOpen(UInt64 UID, out IntPtr phCamera);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_OpenGigE(ref NativeOpenRequest Request, out IntPtr phCamera);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_WatchOpenGigE(ref NativeOpenRequest Request, out IntPtr phCamera);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_OpenUSB(ref NativeOpenRequest Request, out IntPtr phCamera);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_Close(IntPtr hCamera);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_WatchClose(IntPtr hCamera);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern void QORCAM_ReDetection();
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_Reset();

        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_Camera(IntPtr hCamera, out Int32 Connect);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_CameraInfo(IntPtr hCamera, out NativeCameraInfo Info);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_GetNodeMap(IntPtr hCamera, out IntPtr NodeMap);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_CameraInfoGigE(IntPtr hCamera, out NativeGigECameraInfo Info);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_CameraInfoUSB(IntPtr hCamera, out NativeUsbCameraInfo Info);

        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_ResourceAlloc(IntPtr hCamera);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_ResourceAllocGigE(IntPtr hCamera, Byte[] IPAddr, Int32 Recover);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_ResourceRelease(IntPtr hCamera);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_ImageStart(IntPtr hCamera);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_ImageStop(IntPtr hCamera);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_WatchCamera(IntPtr hCamera, out Int32 Standby);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_WatchAlloc(IntPtr hCamera);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_WatchRelease(IntPtr hCamera);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_WatchStart(IntPtr hCamera);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_WatchStop(IntPtr hCamera);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_SetImageCallBack(IntPtr hCamera, IntPtr Context, NativeImageCallBack CallBack, UInt32 BufferCount, Int32 InfoSet_Flag);

        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_ImageAlloc(IntPtr hCamera, out IntPtr ppImage);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_ImageFree(IntPtr hCamera, IntPtr Image);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_ImageFreeAll(IntPtr hCamera);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_ImageReq(IntPtr hCamera, IntPtr Image);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_ImageComplete(IntPtr hCamera, IntPtr Image, UInt32 TimeOut, IntPtr Info);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_ImageReqAbortAll(IntPtr hCamera);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_VSyncReq(IntPtr hCamera, out IntPtr Handle);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_VSyncComplete(IntPtr hCamera, IntPtr Handle, UInt32 TimeOut);

        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_TestStream(IntPtr hCamera);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_GetGigEPktLog(IntPtr hCamera, out NativePktLog Log);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_SetCmdTimeOut(IntPtr hCamera, UInt32 TimeOut);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_ReadPort(IntPtr hCamera, UInt32 Address, Byte[] Buffer, ref UInt32 Length);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_WritePort(IntPtr hCamera, UInt32 Address, Byte[] Buffer, ref UInt32 Length);

        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_ConvMode(IntPtr hCamera, IntPtr Mode, IntPtr Value);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_GetBMPINFO(IntPtr hCamera, IntPtr BmpInfo, ref UInt32 Size, Int32 Priority_Mono);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_BufferConvExec(IntPtr hCamera, IntPtr InBuf, IntPtr OutBuf);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_ImageConvExec(IntPtr hCamera, IntPtr Image, IntPtr OutBuf);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_CreateConvHandle(out IntPtr phTbl, IntPtr Mode, IntPtr Value);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern void QORCAM_CloseConvHandle(IntPtr hTbl);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_ColorConvExec(IntPtr hTbl, IntPtr Image, IntPtr OutBuf);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_ColorConvGetBMPINFO(IntPtr hTbl, IntPtr Image, Byte[] BmpInfo);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern Int32 QORCAM_MonoBMPINFO(IntPtr Image, Byte[] BmpInfo);
    }
}
