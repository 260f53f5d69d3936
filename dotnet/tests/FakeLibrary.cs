// FakeLibrary: the scripted stand-in that takes the camera library's place in the FakeLibrary tests.
using System;
using System.Runtime.InteropServices;

namespace QorCamDotNet.Tests
{
    internal static class FakeLibrary
    {
        private const string Library = "QorCamFake";

        // Knobs and counters, in the stand-in's order.
        internal const int Cameras = 0, ListOvercount = 1, ListRefusals = 2, ListCalls = 3, NodeMapFails = 4, Opens = 5,
                           Closes = 6, WatchCloses = 7, ImagesLeft = 8, ImagesFreed = 9, StructVersion = 10,
                           StructCalls = 11, PortAddress = 12, PortLength = 13, CallBackSet = 14,
                           ConvRefuse = 15, ConvCloses = 16, ConvModeSet = 17, ConvValueSet = 18,
                           NodeLookups = 19;

        [DllImport(Library, EntryPoint = "Fake_Reset")] internal static extern void Reset();
        [DllImport(Library, EntryPoint = "Fake_Set")] internal static extern void Set(int knob, long value);
        [DllImport(Library, EntryPoint = "Fake_Get")] internal static extern long Get(int knob);
        [DllImport(Library, EntryPoint = "Fake_SetCameraInfo")] internal static extern void SetCameraInfo(ref NativeCameraInfo info);
        [DllImport(Library, EntryPoint = "Fake_GetOpenRequest")] internal static extern void GetOpenRequest(out NativeOpenRequest request);
        [DllImport(Library, EntryPoint = "Fake_GetConversion")] internal static extern void GetConversion(out NativeColorConvMode mode, out NativeColorValue value);
        [DllImport(Library, EntryPoint = "Fake_FireSystem")] internal static extern int FireSystem(int code);
        [DllImport(Library, EntryPoint = "Fake_FireImage")] internal static extern int FireImage(ref NativeImageDataInfo info, uint length);

        /// <summary>The camera the stand-in opens: number 77 of the given library camera type.</summary>
        internal static unsafe void SetCamera(uint cameraType, string vendor)
        {
            NativeCameraInfo info = new NativeCameraInfo();
            info.UID = 77;
            info.BusNumber = 3;
            info.CameraType = cameraType;
            info.Speed = 8;
            byte[] bytes = System.Text.Encoding.ASCII.GetBytes(vendor);
            for (int i = 0; i < bytes.Length && i < 256; i++) info.VendorName[i] = bytes[i];
            info.ModelName[0] = (byte)'M';
            SetCameraInfo(ref info);
        }
    }
}
