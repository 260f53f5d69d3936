// LibraryTest: the binding over the real camera library, with no camera present.
using System;
using NUnit.Framework;

namespace QorCamDotNet.Tests
{
    [TestFixture]
    public class LibraryTest
    {
        [Test]
        public void TheLibraryAnswersItsRevision()
        {
            Assert.AreEqual(10106u, QORCAM.GetLibraryRevision());
        }

        [Test]
        public void GetListWithoutCamerasIsAnEmptyArray()
        {
            QORCAM_CAMERAINFO[] list;
            Assert.IsTrue(QORCAM.GetList(out list));
            Assert.IsNotNull(list);
            Assert.AreEqual(0, list.Length);
        }

        [Test]
        public void ACameraThatCannotBeOpenedLeavesAnObjectWithoutCamera()
        {
            QORCAM_OPENREQUEST request = new QORCAM_OPENREQUEST();
            request.UID = 0x1234;
            request.URLIdx = 0xFFFFFFFF;
            Func<QORCAM>[] constructors = {
                () => new QORCAM(0x1234UL), () => new QORCAM_WATCH(0x1234UL), () => new QORCAM_GIGE(request),
                () => new QORCAM_WATCHGIGE(request), () => new QORCAM_USB(request),
            };
            foreach (Func<QORCAM> make in constructors) {
                using (QORCAM camera = make()) {
                    Assert.IsFalse(camera.IsQorCam_Ready(), camera.GetType().Name);
                    Assert.AreNotEqual(STATUS_RTNCODE.STATUSQORCAM_COMPLETE, QORCAM.GetLastError(), camera.GetType().Name);
                }
            }
        }

        [Test]
        public void EveryMethodOfAnObjectWithoutCameraReportsFalse()
        {
            using (QORCAM_WATCH camera = new QORCAM_WATCH(0x1234UL)) {
                QORCAM q = camera;
                bool flag = true;
                byte[] bytes;
                IntPtr p;
                IntPtr[] images = new IntPtr[2];
                QORCAM_CAMERAINFO info = new QORCAM_CAMERAINFO();
                QORCAM_GIGECAMERAINFO gige = new QORCAM_GIGECAMERAINFO();
                QORCAM_USBCAMERAINFO usb = new QORCAM_USBCAMERAINFO();
                QORCAM_PKTLOG log = new QORCAM_PKTLOG();
                QORCAM_IMAGEINFO imageInfo = new QORCAM_IMAGEINFO();
                QORCAM_IMAGEDATAINFO data = new QORCAM_IMAGEDATAINFO();
                Func<bool>[] calls = {
                    () => q.Camera(out flag), () => q.CameraInfo(ref info), () => q.ResourceAlloc(),
                    () => q.ResourceRelease(), () => q.ImageStart(), () => q.ImageStop(),
                    () => camera.ResourceAlloc(), () => camera.ResourceRelease(), () => camera.ImageStart(),
                    () => camera.ImageStop(), () => camera.CameraStandby(out flag),
                    () => q.ConvMode(new QORCAM_COLORCONVMODE()), () => q.ConvMode(new QORCAM_COLORVALUE()),
                    () => q.GetBMPINFO(out bytes, true), () => q.GetImageInfo(ref imageInfo),
                    () => q.BufferConvExec(IntPtr.Zero, IntPtr.Zero), () => q.ImageConvExec(IntPtr.Zero, IntPtr.Zero),
                    () => q.ImageAlloc(out p), () => q.ImageAlloc(ref images), () => q.ImageFree(),
                    () => q.ImageFree(IntPtr.Zero), () => q.ImageReq(IntPtr.Zero), () => q.ImageComplete(IntPtr.Zero, 0),
                    () => q.ImageComplete(IntPtr.Zero, 0, ref data), () => q.ImageReqAbortAll(), () => q.VSyncReq(out p),
                    () => q.VSyncComplete(IntPtr.Zero, 0), () => q.SetImageCallBack(null, 1, false),
                    () => q.SetImageCallBack(), () => q.CameraInfoGigE(ref gige), () => q.CameraInfoUSB(ref usb),
                    () => q.GetGigEPktLog(ref log), () => q.TestStreamGigE(), () => q.ResourceAllocGigE(true),
                    () => q.ReadPort(0, new byte[4]), () => q.WritePort(0, new byte[4]), () => q.SetCmdTimeOut(100),
                };
                for (int i = 0; i < calls.Length; i++) Assert.IsFalse(calls[i](), "call " + i);
                Assert.IsFalse(flag);
                Assert.AreEqual(IntPtr.Zero, images[0], "the caller's array is untouched");
            }
        }

        [Test]
        public void DisposingTwiceIsHarmless()
        {
            QORCAM camera = new QORCAM(0x1234UL);
            camera.Dispose();
            camera.Dispose();
            Assert.IsFalse(camera.IsQorCam_Ready());
        }
    }
}
