// LeaveMidStream: a program that uses the binding and ends without closing its camera, as programs do;
// the runtime unloads the native library at its end. Ends with 0 when every step worked.
//   mono QorCamDotNetExit.exe refused   open the first camera, have a feature value refused, end
//   mono QorCamDotNetExit.exe stream    open the first camera, stream until 5 images came, end
using System;
using System.Threading;
using QorCamDotNet;

static class LeaveMidStream
{
    static int s_Frames;

    static void OnImage(QORCAM camera, IntPtr buffer, UInt32 length, UInt32 width, UInt32 height,
                        QORCAM_IMAGEDATAINFO info, IntPtr context)
    {
        Interlocked.Increment(ref s_Frames);
        Thread.Sleep(5);
    }

    static int Main(string[] args)
    {
        if (args.Length != 1) return 2;
        QORCAM.SetStructVersion(Constants.LIBRARY_STRUCT_VERSION);
        QORCAM_CAMERAINFO[] list = null;
        for (int attempt = 0; attempt < 80; ++attempt) {
            if (QORCAM.GetList(out list) && list != null && list.Length > 0) break;
            Thread.Sleep(250);
        }
        if (list == null || list.Length == 0) return 3;
        var camera = new QORCAM(list[0].UID);
        if (!camera.IsQorCam_Ready()) return 4;
        if (args[0] == "refused") {
            // Refused by the node map itself (its failure text is kept for the calling thread).
            bool refused = !camera.SetValue("Width", (Int64)(-5)) & !camera.SetValue("DeviceModelName", "none") &
                           !camera.SetValue("NoSuchFeature", (Int64)1);
            return refused ? 0 : 5;
        }
        if (args[0] != "stream") return 2;
        if (!camera.ResourceAlloc() || !camera.SetImageCallBack(OnImage, 4, false) || !camera.ImageStart()) return 6;
        for (int waited = 0; waited < 20000 && Volatile.Read(ref s_Frames) < 5; waited += 10)
            Thread.Sleep(10);
        return Volatile.Read(ref s_Frames) >= 5 ? 0 : 7;
    }
}
