// FeatureAccessTest: features by name over a description loaded from a file, through the node map's C interface.
using System;
using System.Runtime.InteropServices;
using System.Text;
using NUnit.Framework;

namespace QorCamDotNet.Tests
{
    [TestFixture]
    public class FeatureAccessTest
    {
        private FeatureMap map;
        private MapCamera camera;

        [SetUp]
        public void Open()
        {
            map = new FeatureMap();
            camera = map.Camera(false);
        }

        [TearDown]
        public void Close()
        {
            if (camera != null) camera.Dispose();
            if (map != null) map.Dispose();
            camera = null;
            map = null;
        }

        [Test]
        public void CategoryListNamesTheRootsFeaturesUnfiltered()
        {
            string[] names;
            Assert.IsTrue(camera.CategoryList(out names));
            CollectionAssert.AreEqual(new[] { "ImageFormat", "AcquisitionStart", "Mode" }, names);
        }

        [Test]
        public void CategoryListWithoutRootRaisesTheNodeMapsError()
        {
            string xml = "<?xml version=\"1.0\"?><RegisterDescription ModelName=\"T\" VendorName=\"T\" " +
                         "SchemaMajorVersion=\"1\" SchemaMinorVersion=\"1\" SchemaSubMinorVersion=\"0\" " +
                         "xmlns=\"http://www.genicam.org/GenApi/Version_1_1\"><Integer Name=\"A\"><Value>1</Value></Integer>" +
                         "<Port Name=\"Device\"/></RegisterDescription>\0";
            IntPtr rootless;
            Assert.AreEqual(0, GenApiNative.QgaOpenXml(Encoding.ASCII.GetBytes(xml), null, out rootless), FeatureNode.LastErrorText());
            using (MapCamera c = new MapCamera(rootless, false)) {
                string[] names;
                SEHException e = Assert.Throws<SEHException>(() => c.CategoryList(out names));
                StringAssert.Contains("NULL pointer dereferenced", e.Message);
            }
            GenApiNative.QgaClose(rootless);
        }

        [Test]
        public void FeatureListLeavesOutTheAcquisitionFeaturesAndTypesTheRest()
        {
            QORCAM_FEATURE[] list;
            Assert.IsTrue(camera.FeatureList("ImageFormat", out list));
            string[] names = Array.ConvertAll(list, f => f.FeatureName);
            CollectionAssert.AreEqual(new[] { "Width", "Gain", "Name", "Raw", "Flag", "Device" }, names);
            QORCAM_FEATURETYPE[] types = Array.ConvertAll(list, f => f.FType);
            CollectionAssert.AreEqual(new[] {
                QORCAM_FEATURETYPE.QORCAM_INTEGERTYPE, QORCAM_FEATURETYPE.QORCAM_FLOATTYPE,
                QORCAM_FEATURETYPE.QORCAM_STRINGTYPE, QORCAM_FEATURETYPE.QORCAM_REGISTERTYPE,
                QORCAM_FEATURETYPE.QORCAM_BOOLEANTYPE,
                QORCAM_FEATURETYPE.QORCAM_INTEGERTYPE, // a port has no feature type: the field stays 0
            }, types);
            Assert.IsFalse(camera.FeatureList("Width", out list), "not a category");
        }

        [Test]
        public void EnumEntryListsGiveOnlyAvailableEntriesInOrder()
        {
            string[] symbols;
            Assert.IsTrue(camera.EnumEntryList("Mode", out symbols));
            CollectionAssert.AreEqual(new[] { "Off", "On" }, symbols);

            QORCAM_ENTRYINFO[] entries;
            Assert.IsTrue(camera.EnumEntryList("Mode", out entries));
            Assert.AreEqual(2, entries.Length);
            Assert.AreEqual("Off", entries[0].SymbolName);
            Assert.AreEqual("Switched off", entries[0].DisplayName);
            Assert.AreEqual("No output", entries[0].Description);
            Assert.AreEqual("off", entries[0].ToolTip);
            Assert.AreEqual(0UL, entries[0].Value);
            Assert.AreEqual(1UL, entries[1].Value);

            Assert.IsFalse(camera.EnumEntryList("Width", out symbols), "not an enumeration");
        }

        [Test]
        public void FeatureInfoDescribesEachKind()
        {
            QORCAM_FEATUREINFO info = new QORCAM_FEATUREINFO();
            Assert.IsTrue(camera.FeatureInfo("Width", ref info));
            Assert.AreEqual(QORCAM_FEATURETYPE.QORCAM_INTEGERTYPE, info.FType);
            Assert.AreEqual("Image width", info.DisplayName);
            Assert.AreEqual("Width of the image in pixels", info.Description);
            Assert.AreEqual("Width", info.ToolTip);
            Assert.AreEqual(2, info.IntReg.Value.MinValue);
            Assert.AreEqual(100, info.IntReg.Value.MaxValue);
            Assert.AreEqual(2, info.IntReg.Value.IncValue);
            Assert.AreEqual("px", info.IntReg.Value.Unit);
            Assert.IsNull(info.FloatReg);

            info = new QORCAM_FEATUREINFO();
            Assert.IsTrue(camera.FeatureInfo("Gain", ref info));
            Assert.AreEqual(QORCAM_FEATURETYPE.QORCAM_FLOATTYPE, info.FType);
            Assert.AreEqual(-10.0, info.FloatReg.Value.MinValue);
            Assert.AreEqual(10.0, info.FloatReg.Value.MaxValue);
            Assert.IsFalse(info.FloatReg.Value.HasInc);
            Assert.AreEqual(0.0, info.FloatReg.Value.IncValue);
            Assert.AreEqual("dB", info.FloatReg.Value.Unit);

            Assert.IsTrue(camera.FeatureInfo("Step", ref info));
            Assert.IsTrue(info.FloatReg.Value.HasInc);
            Assert.AreEqual(0.5, info.FloatReg.Value.IncValue);

            info = new QORCAM_FEATUREINFO();
            Assert.IsTrue(camera.FeatureInfo("Name", ref info));
            Assert.AreEqual(QORCAM_FEATURETYPE.QORCAM_STRINGTYPE, info.FType);
            Assert.AreEqual(8UL, info.StringReg.Value.MaxLength);

            info = new QORCAM_FEATUREINFO();
            Assert.IsTrue(camera.FeatureInfo("Raw", ref info));
            Assert.AreEqual(QORCAM_FEATURETYPE.QORCAM_REGISTERTYPE, info.FType);
            Assert.AreEqual(0x20, info.Reg.Value.Addr);
            Assert.AreEqual(4UL, info.Reg.Value.Length);

            info = new QORCAM_FEATUREINFO();
            Assert.IsTrue(camera.FeatureInfo("Mode", ref info));
            Assert.AreEqual(QORCAM_FEATURETYPE.QORCAM_ENUMERATIONTYPE, info.FType);
            Assert.IsNull(info.IntReg);

            Assert.IsFalse(camera.FeatureInfo("Unavailable", ref info));
        }

        [Test]
        public void AccessModesAndTestsFollowTheNodes()
        {
            object[,] cases = {
                { "Width", QORCAM_ACCESSMODE.QORCAM_READWRITE, true, true, true },
                { "Version", QORCAM_ACCESSMODE.QORCAM_READONLY, true, true, false },
                { "Unavailable", QORCAM_ACCESSMODE.QORCAM_NOTAVAILABLE, false, false, false },
            };
            for (int i = 0; i < cases.GetLength(0); i++) {
                string name = (string)cases[i, 0];
                QORCAM_ACCESSMODE mode;
                Assert.IsTrue(camera.AccessMode(name, out mode), name);
                Assert.AreEqual(cases[i, 1], mode, name);
                Assert.AreEqual(cases[i, 2], camera.IsAvailable(name), name + " available");
                Assert.AreEqual(cases[i, 3], camera.IsReadable(name), name + " readable");
                Assert.AreEqual(cases[i, 4], camera.IsWritable(name), name + " writable");
            }
        }

        [Test]
        public void GettersReadEachKind()
        {
            map.Port.Memory[0] = 42;
            map.Port.Memory[8] = 1;
            Encoding.ASCII.GetBytes("abc").CopyTo(map.Port.Memory, 0x10);
            new byte[] { 1, 2, 3, 4 }.CopyTo(map.Port.Memory, 0x20);
            map.Port.Memory[0x28] = 1;

            long i;
            Assert.IsTrue(camera.GetValue("Width", out i));
            Assert.AreEqual(42, i);
            Assert.IsTrue(camera.GetValue("Mode", out i), "an enumeration's entry value");
            Assert.AreEqual(1, i);
            string s;
            Assert.IsTrue(camera.GetValue("Mode", out s));
            Assert.AreEqual("On", s);
            Assert.IsTrue(camera.GetValue("Name", out s));
            Assert.AreEqual("abc", s);
            bool b;
            Assert.IsTrue(camera.GetValue("Flag", out b));
            Assert.IsTrue(b);
            byte[] raw;
            Assert.IsTrue(camera.GetValue("Raw", out raw));
            CollectionAssert.AreEqual(new byte[] { 1, 2, 3, 4 }, raw);
            double d;
            Assert.IsTrue(camera.GetValue("Gain", out d));
            Assert.AreEqual(2.9, d, 1e-12);
        }

        [Test]
        public void FloatsReadAsIntegersAreTruncatedTowardZero()
        {
            long i;
            Assert.IsTrue(camera.GetValue("Gain", out i));
            Assert.AreEqual(2, i);
            Assert.IsTrue(camera.SetValue("Gain", -2.9));
            Assert.IsTrue(camera.GetValue("Gain", out i));
            Assert.AreEqual(-2, i);
            Assert.IsFalse(camera.GetValue("Huge", out i), "1e30 has no 64-bit integer");
        }

        [Test]
        public void GettersRefuseOtherKindsAndUnavailableNodes()
        {
            bool b;
            string s;
            double d;
            byte[] raw;
            long i;
            Assert.IsFalse(camera.GetValue("Width", out b));
            Assert.IsFalse(camera.GetValue("Width", out s));
            Assert.IsFalse(camera.GetValue("Width", out d));
            Assert.IsFalse(camera.GetValue("Width", out raw));
            Assert.IsFalse(camera.GetValue("Flag", out i));
            Assert.IsFalse(camera.GetValue("Unavailable", out i));
        }

        [Test]
        public void AFailedReadReachesTheCallerAsAnException()
        {
            long i;
            SEHException e = Assert.Throws<SEHException>(() => camera.GetValue("Broken", out i));
            StringAssert.Contains("Broken", e.Message);
        }

        [Test]
        public void SettersWriteEachKind()
        {
            Assert.IsTrue(camera.SetValue("Width", 42L));
            Assert.AreEqual(42u, map.Port.At(0));
            Assert.IsTrue(camera.SetValue("Gain", 3L), "an integer written to a float");
            double d;
            camera.GetValue("Gain", out d);
            Assert.AreEqual(3.0, d);
            Assert.IsTrue(camera.SetValue("Gain", 1.25));
            camera.GetValue("Gain", out d);
            Assert.AreEqual(1.25, d);
            Assert.IsTrue(camera.SetValue("Mode", "On"));
            Assert.AreEqual(1u, map.Port.At(8));
            Assert.IsTrue(camera.SetValue("Mode", 0L));
            Assert.AreEqual(0u, map.Port.At(8));
            Assert.IsTrue(camera.SetValue("Name", "xy"));
            Assert.AreEqual("xy", Encoding.ASCII.GetString(map.Port.Memory, 0x10, 2));
            Assert.AreEqual(0, map.Port.Memory[0x12]);
            Assert.IsTrue(camera.SetValue("Flag", true));
            Assert.AreEqual(1u, map.Port.At(0x28));
            Assert.IsTrue(camera.SetValue("AcquisitionStart"), "a command executes");
            Assert.AreEqual(1u, map.Port.At(4));
        }

        [Test]
        public void RegisterWritesTakeTheShorterOfArrayAndRegister()
        {
            new byte[] { 9, 9, 9, 9, 9, 9 }.CopyTo(map.Port.Memory, 0x20);
            Assert.IsTrue(camera.SetValue("Raw", new byte[] { 1, 2 }));
            CollectionAssert.AreEqual(new byte[] { 1, 2, 9, 9, 9, 9 }, Slice(map.Port.Memory, 0x20, 6));
            Assert.IsTrue(camera.SetValue("Raw", new byte[] { 5, 6, 7, 8, 1, 1 }));
            CollectionAssert.AreEqual(new byte[] { 5, 6, 7, 8, 9, 9 }, Slice(map.Port.Memory, 0x20, 6));
            int writes = map.Port.Writes;
            Assert.IsTrue(camera.SetValue("Raw", new byte[0]), "nothing to write is done at once");
            Assert.AreEqual(writes, map.Port.Writes);
        }

        [Test]
        public void SettersReportRefusalsAsFalse()
        {
            Assert.IsFalse(camera.SetValue("Width", 101L), "above the maximum");
            Assert.IsFalse(camera.SetValue("Mode", "Nope"), "no such entry");
            Assert.IsFalse(camera.SetValue("Version", 1L), "read only");
            Assert.IsFalse(camera.SetValue("Width", true), "not a boolean");
            Assert.IsFalse(camera.SetValue("Width", 1.0), "not a float");
            Assert.IsFalse(camera.SetValue("Width"), "not a command");
            Assert.IsFalse(camera.SetValue("Broken", 1L), "the port refuses the write");
            Assert.AreEqual(0u, map.Port.At(0), "nothing was written");
        }

        [Test]
        public void AWatchCameraReadsButNeverWrites()
        {
            using (MapCamera watch = map.Camera(true)) {
                map.Port.Memory[0] = 6;
                long i;
                Assert.IsTrue(watch.GetValue("Width", out i));
                Assert.AreEqual(6, i);
                Assert.IsTrue(watch.IsAvailable("Width"));
                Assert.IsFalse(watch.IsReadable("Width"));
                Assert.IsFalse(watch.IsWritable("Width"));
                Assert.IsFalse(watch.SetValue("Width", 8L));
                Assert.IsFalse(watch.SetValue("Gain", 1.0));
                Assert.IsFalse(watch.SetValue("Mode", "On"));
                Assert.IsFalse(watch.SetValue("Flag", true));
                Assert.IsFalse(watch.SetValue("Raw", new byte[] { 1 }));
                Assert.IsFalse(watch.SetValue("AcquisitionStart"));
                Assert.AreEqual(0, map.Port.Writes);
            }
        }

        [Test]
        public void UnknownEmptyOrNullNamesAndMissingCamerasGiveFalse()
        {
            MapCamera disposed = map.Camera(false);
            disposed.Dispose();
            QORCAM[] cameras = { camera, disposed };
            string[] names = { "", null, "Nope", "Wïdth" };
            foreach (QORCAM c in cameras) {
                foreach (string name in names) {
                    string label = (c == camera ? "camera, " : "no camera, ") + (name ?? "null");
                    if (c == camera && name == "Width") continue;
                    long i;
                    string s;
                    QORCAM_FEATUREINFO info = new QORCAM_FEATUREINFO();
                    QORCAM_FEATURE[] features;
                    string[] entries;
                    QORCAM_ACCESSMODE mode;
                    Assert.IsFalse(c.GetValue(name, out i), label);
                    Assert.IsFalse(c.GetValue(name, out s), label);
                    Assert.IsFalse(c.SetValue(name, 1L), label);
                    Assert.IsFalse(c.SetValue(name), label);
                    Assert.IsFalse(c.FeatureInfo(name, ref info), label);
                    Assert.IsFalse(c.FeatureList(name, out features), label);
                    Assert.IsFalse(c.EnumEntryList(name, out entries), label);
                    Assert.IsFalse(c.AccessMode(name, out mode), label);
                    Assert.IsFalse(c.IsAvailable(name), label);
                    Assert.IsFalse(c.IsReadable(name), label);
                    Assert.IsFalse(c.IsWritable(name), label);
                }
            }
            string[] all;
            Assert.IsFalse(disposed.CategoryList(out all));
        }

        private static byte[] Slice(byte[] bytes, int start, int count)
        {
            byte[] part = new byte[count];
            Array.Copy(bytes, start, part, 0, count);
            return part;
        }
    }
}
