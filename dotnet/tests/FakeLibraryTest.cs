// FakeLibraryTest: the binding's marshalling and failure rules against a scripted stand-in library
// that has only some of the exports.
using System;
using System.Runtime.InteropServices;
using System.Threading;
using NUnit.Framework;

namespace QorCamDotNet.Tests
{
    [TestFixture]
    [Category("FakeLibrary")]
    public class FakeLibraryTest
    {
        [SetUp]
        public void Script()
        {
            FakeLibrary.Reset();
            FakeLibrary.SetCamera(1, "Vendor");
        }

        [Test]
        public void AnOpenedCameraIsHeldUntilDisposedAndClosedOnce()
        {
            QORCAM camera = new QORCAM(77UL);
            Assert.IsTrue(camera.IsQorCam_Ready());
            Assert.AreEqual(1u, camera.m_CameraType);
            camera.Dispose();
            camera.Dispose();
            Assert.IsFalse(camera.IsQorCam_Ready());
            Assert.AreEqual(1, FakeLibrary.Get(FakeLibrary.Closes));
            Assert.AreEqual(0, FakeLibrary.Get(FakeLibrary.WatchCloses));
        }

        [Test]
        public void ACameraWithoutNodeMapIsClosedAgainWithTheMatchingExport()
        {
            FakeLibrary.Set(FakeLibrary.NodeMapFails, 1);
            QORCAM_OPENREQUEST request = new QORCAM_OPENREQUEST();
            request.UID = 0xFFFFFFFFFFFFFFFFUL;
            object[,] cases = {
                { (Func<QORCAM>)(() => new QORCAM(77UL)), 1, 0 },
                { (Func<QORCAM>)(() => new QORCAM_WATCH(77UL)), 0, 1 },
                { (Func<QORCAM>)(() => new QORCAM_GIGE(request)), 1, 0 },
                { (Func<QORCAM>)(() => new QORCAM_WATCHGIGE(request)), 0, 1 },
            };
            for (int i = 0; i < cases.GetLength(0); i++) {
                FakeLibrary.Set(FakeLibrary.Closes, 0);
                FakeLibrary.Set(FakeLibrary.WatchCloses, 0);
                using (QORCAM camera = ((Func<QORCAM>)cases[i, 0])()) {
                    string label = camera.GetType().Name;
                    Assert.IsFalse(camera.IsQorCam_Ready(), label);
                    Assert.AreEqual(STATUS_RTNCODE.STATUSQORCAM_COMMUNICATE_ERROR, QORCAM.GetLastError(), label);
                    Assert.AreEqual((long)(int)cases[i, 1], FakeLibrary.Get(FakeLibrary.Closes), label + " closes");
                    Assert.AreEqual((long)(int)cases[i, 2], FakeLibrary.Get(FakeLibrary.WatchCloses), label + " watch closes");
                }
            }
        }

        [Test]
        public void OpenRequestsCarryTheirFieldsAndRefuseLongNames()
        {
            QORCAM_OPENREQUEST request = new QORCAM_OPENREQUEST();
            request.UID = 0xFFFFFFFFFFFFFFFFUL;
            request.URLIdx = 2;
            request.UserName = "fifteen-chars-x";
            using (QORCAM_GIGE camera = new QORCAM_GIGE(request)) {
                Assert.IsTrue(camera.IsQorCam_Ready());
                Assert.AreEqual(1u, camera.m_CameraType);
                NativeOpenRequest seen;
                FakeLibrary.GetOpenRequest(out seen);
                Assert.AreEqual(0xFFFFFFFFFFFFFFFFUL, seen.UID);
                Assert.AreEqual(2u, seen.URLIdx);
                unsafe {
                    Assert.AreEqual("fifteen-chars-x", NativeText.Read(seen.UserName, 64));
                }
            }

            request.UserName = "sixteen-chars-xx";
            using (QORCAM_GIGE camera = new QORCAM_GIGE(request)) Assert.IsFalse(camera.IsQorCam_Ready());
            Assert.AreEqual(1, FakeLibrary.Get(FakeLibrary.Opens), "a long name calls nothing");

            request.UserName = null;
            using (QORCAM_WATCHGIGE camera = new QORCAM_WATCHGIGE(request)) {
                Assert.IsTrue(camera.IsQorCam_Ready());
                NativeOpenRequest seen;
                FakeLibrary.GetOpenRequest(out seen);
                unsafe {
                    Assert.AreEqual(0, seen.UserName[0], "a null name is an empty one");
                }
            }
        }

        [Test]
        public void FeatureLookupsGoToTheLibraryThatGaveTheNodeMap()
        {
            using (QORCAM camera = new QORCAM(77UL)) {
                Assert.IsTrue(camera.IsQorCam_Ready());
                Assert.IsFalse(camera.IsAvailable("Width"), "the stand-in's map has no nodes");
                Assert.AreEqual(1, FakeLibrary.Get(FakeLibrary.NodeLookups));
            }
        }

        [Test]
        public void CameraInfoFollowsTheCopyRules()
        {
            FakeLibrary.SetCamera(2, "Ven\0dor");
            using (QORCAM camera = new QORCAM(77UL)) {
                QORCAM_CAMERAINFO info = new QORCAM_CAMERAINFO();
                Assert.IsTrue(camera.CameraInfo(ref info));
                Assert.AreEqual(77UL, info.UID);
                Assert.AreEqual(3u, info.BusNumber);
                Assert.AreEqual(QORCAM_CAMERATYPE.QORCAM_CAMERAUSB, info.CameraType);
                Assert.AreEqual(QORCAM_TRANSMITSPEED.QORCAM_SUSB3, info.Speed);
                Assert.AreEqual("Ven", info.VendorName, "the text ends at its first zero");
                Assert.AreEqual("M", info.ModelName);

                FakeLibrary.SetCamera(7, new string('x', 256));
                info.CameraType = QORCAM_CAMERATYPE.QORCAM_CAMERAGIGE;
                Assert.IsTrue(camera.CameraInfo(ref info));
                Assert.AreEqual(QORCAM_CAMERATYPE.QORCAM_CAMERAGIGE, info.CameraType, "type 7 sets nothing");
                Assert.AreEqual(new string('x', 256), info.VendorName, "a full field ends with the field");
            }
        }

        [Test]
        public void GetListReadsNoMoreThanTheRoomItGave()
        {
            QORCAM_CAMERAINFO[] list;
            Assert.IsTrue(QORCAM.GetList(out list));
            Assert.AreEqual(0, list.Length);

            FakeLibrary.Set(FakeLibrary.Cameras, 3);
            FakeLibrary.Set(FakeLibrary.ListRefusals, 2);
            Assert.IsTrue(QORCAM.GetList(out list));
            Assert.AreEqual(new[] { 77UL, 78UL, 79UL }, Array.ConvertAll(list, c => c.UID));
            Assert.AreEqual(QORCAM_CAMERATYPE.QORCAM_CAMERAGIGE, list[2].CameraType);
            Assert.AreEqual("Vendor", list[2].VendorName);

            FakeLibrary.Set(FakeLibrary.ListOvercount, 1000);
            Assert.IsTrue(QORCAM.GetList(out list));
            Assert.AreEqual(3, list.Length, "a count beyond the room is not believed");

            FakeLibrary.Set(FakeLibrary.ListOvercount, 0);
            FakeLibrary.Set(FakeLibrary.ListRefusals, -1);
            FakeLibrary.Set(FakeLibrary.ListCalls, 0);
            Assert.IsTrue(QORCAM.GetList(out list));
            Assert.AreEqual(0, list.Length, "a library that keeps refusing gives an empty list");
            Assert.LessOrEqual(FakeLibrary.Get(FakeLibrary.ListCalls), 2 * QORCAM.GetListAttempts + 1);
        }

        [Test]
        public void OnlyTheBindingsStructVersionIsPassedOn()
        {
            QORCAM.SetStructVersion(10107);
            QORCAM.SetStructVersion(0);
            Assert.AreEqual(0, FakeLibrary.Get(FakeLibrary.StructCalls));
            QORCAM.SetStructVersion(Constants.LIBRARY_STRUCT_VERSION);
            Assert.AreEqual(1, FakeLibrary.Get(FakeLibrary.StructCalls));
            Assert.AreEqual(10106, FakeLibrary.Get(FakeLibrary.StructVersion));
        }

        [Test]
        public void AMissingExportIsAFailureWithItsOwnLastError()
        {
            using (QORCAM camera = new QORCAM(77UL)) {
                Assert.IsFalse(camera.ImageStart());
                Assert.AreEqual(STATUS_RTNCODE.STATUSQORCAM_LIBRARY_CONTRADICTION, QORCAM.GetLastError());
                Assert.IsTrue(camera.ResourceAlloc());
                Assert.AreEqual(STATUS_RTNCODE.STATUSQORCAM_COMPLETE, QORCAM.GetLastError(), "the next call that reaches the library clears it");
                Assert.IsFalse(QORCAM.Reset());
                Assert.AreEqual(STATUS_RTNCODE.STATUSQORCAM_LIBRARY_CONTRADICTION, QORCAM.GetLastError());
                QORCAM.ReDetection();
                byte[] header;
                Assert.IsFalse(camera.GetBMPINFO(out header, false));
                Assert.IsNull(header);
                Assert.IsFalse(camera.BufferConvExec(IntPtr.Zero, IntPtr.Zero));
                Assert.IsFalse(QORCAM.MonoBMPINFO(IntPtr.Zero, out header));
                Assert.AreEqual(1064, header.Length);
            }
        }

        [Test]
        public void AConversionObjectTheLibraryCannotMakeIsNeverBuilt()
        {
            FakeLibrary.Set(FakeLibrary.ConvRefuse, 1);
            SEHException e = Assert.Throws<SEHException>(() => new QORCOMV());
            Assert.AreEqual("Paramter Error", e.Message);
            Assert.Throws<SEHException>(() => new QORCOMV(new QORCAM_COLORCONVMODE(), new QORCAM_COLORVALUE()));
        }

        [Test]
        public void AConversionObjectPassesItsSettingsAndClosesOnce()
        {
            QORCAM_COLORCONVMODE mode = new QORCAM_COLORCONVMODE();
            mode.StoreMode = QORCAM_STOREMODE.QORCAM_BMPmodeLR;
            mode.ShiftID = QORCAM_SHIFTID.QORCAM_SFTAUTO;
            mode.DIBMode = QORCAM_DIBMODE.QORCAM_DIB24;
            mode.BayerRevision_G = true;
            QORCAM_COLORVALUE value = new QORCAM_COLORVALUE();
            value.R_Value = 1.5;
            value.G1_Value = 0.25;
            value.G2_Value = 2.0;
            value.B_Value = -1.0;
            QORCOMV conv = new QORCOMV(mode, value);
            NativeColorConvMode m;
            NativeColorValue v;
            FakeLibrary.GetConversion(out m, out v);
            Assert.AreEqual(new uint[] { 3, 1 }, new[] { m.StoreMode, m.DIBMode });
            Assert.AreEqual(-1, m.ShiftID);
            Assert.AreEqual(new[] { 1, 0 }, new[] { m.BayerRevision_G, m.Parallel_Flag });
            Assert.AreEqual(new[] { 1.5, 0.25, 2.0, -1.0 }, new[] { v.R_Value, v.G1_Value, v.G2_Value, v.B_Value });

            byte[] header;
            Assert.IsFalse(conv.GetBMPINFO(IntPtr.Zero, out header), "the stand-in has no header export");
            Assert.AreEqual(44, header.Length, "a new 44-byte array also on failure");
            conv.Dispose();
            conv.Dispose();
            Assert.AreEqual(1, FakeLibrary.Get(FakeLibrary.ConvCloses));
            Assert.IsFalse(conv.ConvExec(IntPtr.Zero, IntPtr.Zero), "a disposed object passes no stale handle");

            using (new QORCOMV(value)) {
                Assert.AreEqual(new long[] { 0, 1 },
                                new[] { FakeLibrary.Get(FakeLibrary.ConvModeSet), FakeLibrary.Get(FakeLibrary.ConvValueSet) });
            }
            using (new QORCOMV()) {
                Assert.AreEqual(new long[] { 0, 0 },
                                new[] { FakeLibrary.Get(FakeLibrary.ConvModeSet), FakeLibrary.Get(FakeLibrary.ConvValueSet) });
            }
        }

        [Test]
        public void AWatchCameraThroughABaseReferenceReachesTheNormalExport()
        {
            using (QORCAM_WATCH watch = new QORCAM_WATCH(77UL)) {
                Assert.IsTrue(watch.IsQorCam_Ready());
                QORCAM asBase = watch;
                Assert.IsFalse(asBase.ResourceAlloc());
                Assert.AreEqual(STATUS_RTNCODE.STATUSQORCAM_NO_OPEN, QORCAM.GetLastError());
                Assert.IsTrue(watch.ResourceAlloc());
            }
            Assert.AreEqual(1, FakeLibrary.Get(FakeLibrary.WatchCloses));
        }

        [Test]
        public void PortAccessUsesTheLowAddressBitsAndTheArraysLength()
        {
            using (QORCAM camera = new QORCAM(77UL)) {
                byte[] value = new byte[6];
                Assert.IsTrue(camera.ReadPort(0x1_0000_0040UL, value));
                Assert.AreEqual(0x40, FakeLibrary.Get(FakeLibrary.PortAddress));
                Assert.AreEqual(6, FakeLibrary.Get(FakeLibrary.PortLength));
                Assert.AreEqual(new byte[] { 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5 }, value);
                Assert.IsTrue(camera.ReadPort(0, new byte[0]), "an empty array reads nothing");
                Assert.AreEqual(0, FakeLibrary.Get(FakeLibrary.PortLength));
                Assert.IsFalse(camera.ResourceAllocGigE(new byte[] { 239, 1 }, false), "a short address is refused");
            }
        }

        [Test]
        public void ImageArraysAreAllocatedWhollyOrNotAtAll()
        {
            using (QORCAM camera = new QORCAM(77UL)) {
                IntPtr[] images = new IntPtr[3];
                FakeLibrary.Set(FakeLibrary.ImagesLeft, 2);
                Assert.IsFalse(camera.ImageAlloc(ref images));
                Assert.AreEqual(2, FakeLibrary.Get(FakeLibrary.ImagesFreed), "what this call got is freed");
                Assert.AreEqual(new IntPtr[3], images);

                FakeLibrary.Set(FakeLibrary.ImagesLeft, 3);
                Assert.IsTrue(camera.ImageAlloc(ref images));
                Assert.AreEqual(3, new System.Collections.Generic.HashSet<IntPtr>(images).Count);
                Assert.IsFalse(Array.Exists(images, p => p == IntPtr.Zero));

                IntPtr[] none = new IntPtr[0];
                Assert.IsFalse(camera.ImageAlloc(ref none));
            }
        }

        [Test]
        public void TheSystemCallbackReachesTheDelegateFromTheLibrarysThread()
        {
            STATUS_SYSTEMCODE got = 0;
            IntPtr context = IntPtr.Zero;
            int thread = 0;
            QORCAM.SetCallBack(new IntPtr(0x5151), (code, ctx) => {
                got = code;
                context = ctx;
                thread = Thread.CurrentThread.ManagedThreadId;
            });
            Assert.AreEqual(1, FakeLibrary.FireSystem(1));
            Assert.AreEqual(STATUS_SYSTEMCODE.STATUSQORCAM_BUSRESET, got);
            Assert.AreEqual(new IntPtr(0x5151), context);
            Assert.AreNotEqual(Thread.CurrentThread.ManagedThreadId, thread);

            QORCAM.SetCallBack((code, ctx) => { throw new InvalidOperationException("from the application"); });
            Assert.AreEqual(1, FakeLibrary.FireSystem(2), "an exception of the delegate stays on its side");
            QORCAM.SetCallBack(null);
            Assert.AreEqual(1, FakeLibrary.FireSystem(2), "no delegate, nothing called");
        }

        [Test]
        public void ImagesReachTheDelegateWithTheirInformation()
        {
            using (QORCAM camera = new QORCAM(77UL)) {
                int calls = 0;
                QORCAM seenCamera = null;
                uint seenLength = 99;
                byte firstByte = 0;
                IntPtr seenContext = IntPtr.Zero;
                QORCAM_IMAGEDATAINFO seenInfo = new QORCAM_IMAGEDATAINFO();
                QORCAM.ImageFunc onImage = (h, buffer, length, width, height, info, ctx) => {
                    calls++;
                    seenCamera = h;
                    seenLength = length;
                    firstByte = buffer == IntPtr.Zero ? (byte)0 : Marshal.ReadByte(buffer);
                    seenContext = ctx;
                    seenInfo = info;
                };
                Assert.IsTrue(camera.SetImageCallBack(new IntPtr(0x77), onImage, 4, true));
                Assert.AreEqual(1, FakeLibrary.Get(FakeLibrary.CallBackSet));

                NativeImageDataInfo record = new NativeImageDataInfo();
                record.CType = 1;
                record.Payload_Flag = 1;
                record.PayloadType = 1;
                record.Frame_ID = 42;
                record.GigE_Image.Width = 4;
                Assert.AreEqual(1, FakeLibrary.FireImage(ref record, 16));
                Assert.AreEqual(1, calls);
                Assert.AreSame(camera, seenCamera);
                Assert.AreEqual(16u, seenLength);
                Assert.AreEqual(0x5A, firstByte);
                Assert.AreEqual(new IntPtr(0x77), seenContext);
                Assert.AreEqual(QORCAM_CAMERATYPE.QORCAM_CAMERAGIGE, seenInfo.CType);
                Assert.AreEqual(42UL, seenInfo.CGigE.Value.StreamInfo.Value.Frame_ID);
                Assert.AreEqual(4u, seenInfo.CGigE.Value.StreamInfo.Value.Image.Value.Width);

                Assert.AreEqual(1, FakeLibrary.FireImage(ref record, 0));
                Assert.AreEqual(0u, seenLength, "a failed buffer arrives with length 0");
                Assert.AreEqual(0x5A, firstByte, "and still points to the buffer");

                Assert.IsTrue(camera.SetImageCallBack(onImage, 4, false));
                Assert.AreEqual(1, FakeLibrary.FireImage(ref record, 16));
                Assert.AreEqual(QORCAM_CAMERATYPE.QORCAM_CAMERANOTYPE, seenInfo.CType, "no information asked for");

                Assert.IsTrue(camera.SetImageCallBack());
                Assert.AreEqual(0, FakeLibrary.Get(FakeLibrary.CallBackSet));
                Assert.AreEqual(0, FakeLibrary.FireImage(ref record, 16));
                Assert.AreEqual(3, calls);
            }
        }
    }
}
