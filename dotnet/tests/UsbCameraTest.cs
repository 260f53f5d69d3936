// UsbCameraTest: one simulated USB3 Vision camera through the binding and the real library: the USB
// service on the virtual bus and the camera are started here, under the run's private root.
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Threading;
using NUnit.Framework;

namespace QorCamDotNet.Tests
{
    [TestFixture]
    [Category("UsbCamera")]
    public class UsbCameraTest
    {
        const uint Width = 64, Height = 16;
        Process m_Camera, m_Service;

        static Process Start(string variable, string arguments)
        {
            string program = Environment.GetEnvironmentVariable(variable);
            if (String.IsNullOrEmpty(program)) Assert.Ignore(variable + " is not set: no USB camera to run");
            ProcessStartInfo info = new ProcessStartInfo(program, arguments);
            info.UseShellExecute = false;
            info.EnvironmentVariables["QORCAM_USB_BUS"] = "virtual";
            return Process.Start(info);
        }

        [SetUp]
        public void StartCameraAndService()
        {
            m_Camera = Start("QORCAM_U3V_SIM_CAMERA",
                             "--name=cam1 --vendor=Acme --model=U3-Net --serial=4712 --guid=00A1B2C3D4E6 --width=" +
                             Width + " --height=" + Height + " --fps=50 --exit-with-parent");
            m_Service = Start("QORCAM_USB_DRV", "");
        }

        [TearDown]
        public void StopCameraAndService()
        {
            foreach (Process p in new[] { m_Service, m_Camera }) {
                if (p == null) continue;
                if (!p.HasExited) p.Kill();
                p.WaitForExit(10000);
                p.Dispose();
            }
        }

        // Lists (a bounded number of times: the service finds the camera after a moment) until it shows up.
        static QORCAM_CAMERAINFO FindUsbCamera()
        {
            // The library takes USB cameras from this structure version on.
            QORCAM.SetStructVersion(Constants.LIBRARY_STRUCT_VERSION);
            for (int attempt = 0; attempt < 80; attempt++) {
                QORCAM_CAMERAINFO[] list;
                if (QORCAM.GetList(out list))
                    foreach (QORCAM_CAMERAINFO info in list)
                        if (info.CameraType == QORCAM_CAMERATYPE.QORCAM_CAMERAUSB) return info;
                Thread.Sleep(250);
            }
            Assert.Fail("no USB camera listed: " + QORCAM.GetLastError());
            return new QORCAM_CAMERAINFO();
        }

        [Test]
        public void ListsOpensReadsAFeatureAndStreamsAUsbCamera()
        {
            QORCAM_CAMERAINFO found = FindUsbCamera();
            Assert.AreEqual("Acme", found.VendorName);
            Assert.AreEqual("U3-Net", found.ModelName);

            using (QORCAM_USB camera = new QORCAM_USB(found.UID)) {
                Assert.IsTrue(camera.IsQorCam_Ready(), "open: " + QORCAM.GetLastError());
                Int64 width;
                Assert.IsTrue(camera.GetValue("Width", out width));
                Assert.AreEqual(Width, width);
                String model;
                Assert.IsTrue(camera.GetValue("DeviceModelName", out model));
                Assert.AreEqual("U3-Net", model);

                // Each image is checked inside the delegate, while its memory is valid: the camera's
                // ramp moves by one grey level per block, so pixel (x, 0) is x + pixel (0, 0).
                List<string> faults = new List<string>();
                int frames = 0;
                ManualResetEvent enough = new ManualResetEvent(false);
                QORCAM.ImageFunc onImage = (cam, buffer, length, w, h, info, context) => {
                    lock (faults) {
                        if (length != Width * Height || w != Width || h != Height)
                            faults.Add("image " + length + " bytes " + w + "x" + h);
                        else {
                            byte[] row = new byte[Width];
                            System.Runtime.InteropServices.Marshal.Copy(buffer, row, 0, (int)Width);
                            for (int x = 1; x < Width; x++)
                                if (row[x] != (byte)(row[0] + x)) { faults.Add("pixel " + x); break; }
                        }
                        if (++frames >= 3) enough.Set();
                    }
                };
                Assert.IsTrue(camera.ResourceAlloc(), "ResourceAlloc: " + QORCAM.GetLastError());
                Assert.IsTrue(camera.SetImageCallBack(onImage, 4, true), "SetImageCallBack: " + QORCAM.GetLastError());
                Assert.IsTrue(camera.ImageStart(), "ImageStart: " + QORCAM.GetLastError());
                bool streamed = enough.WaitOne(20000);
                Assert.IsTrue(camera.ImageStop());
                Assert.IsTrue(camera.SetImageCallBack());
                Assert.IsTrue(camera.ResourceRelease());
                Assert.IsTrue(streamed, "frames: " + frames);
                lock (faults) Assert.IsEmpty(faults, String.Join("; ", faults.ToArray()));
                GC.KeepAlive(onImage);
            }
        }
    }
}
