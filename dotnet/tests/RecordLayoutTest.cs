// RecordLayoutTest: the binding's view of the library's records and enumerations against the C header's.
using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using NUnit.Framework;

namespace QorCamDotNet.Tests
{
    [TestFixture]
    public class RecordLayoutTest
    {
        private static Type BindingType(string name)
        {
            Type type = typeof(QORCAM).Assembly.GetType("QorCamDotNet." + name);
            Assert.IsNotNull(type, "no type " + name + " in the binding");
            return type;
        }

        [Test]
        public void NativeRecordsHaveTheSizesAndOffsetsOfTheCHeader()
        {
            List<string> wrong = new List<string>();
            object[,] table = NativeLayout.Table;
            for (int i = 0; i < table.GetLength(0); i++) {
                Type type = BindingType((string)table[i, 0]);
                string field = (string)table[i, 1];
                int expected = (int)table[i, 2];
                int actual = field.Length == 0 ? Marshal.SizeOf(type) : Marshal.OffsetOf(type, field).ToInt32();
                if (actual != expected)
                    wrong.Add(String.Format("{0}.{1}: binding {2}, C {3}", type.Name, field.Length == 0 ? "size" : field,
                                            actual, expected));
            }
            Assert.IsEmpty(wrong, String.Join("\n", wrong.ToArray()));
        }

        [Test]
        public void EnumerationsSharedWithTheCHeaderHaveItsMembersAndValues()
        {
            List<string> wrong = new List<string>();
            Dictionary<string, int> members = new Dictionary<string, int>();
            object[,] table = NativeLayout.Enums;
            for (int i = 0; i < table.GetLength(0); i++) {
                string enumName = (string)table[i, 0], member = (string)table[i, 1];
                int expected = (int)table[i, 2];
                Type type = BindingType(enumName);
                members[enumName] = members.ContainsKey(enumName) ? members[enumName] + 1 : 1;
                if (!Enum.IsDefined(type, member)) {
                    wrong.Add(enumName + "." + member + " missing");
                    continue;
                }
                int actual = Convert.ToInt32(Enum.Parse(type, member));
                if (actual != expected) wrong.Add(String.Format("{0}.{1}: binding {2}, C {3}", enumName, member, actual, expected));
            }
            foreach (KeyValuePair<string, int> e in members) {
                int count = Enum.GetValues(BindingType(e.Key)).Length;
                if (count != e.Value) wrong.Add(String.Format("{0}: binding has {1} members, C {2}", e.Key, count, e.Value));
            }
            Assert.IsEmpty(wrong, String.Join("\n", wrong.ToArray()));
        }

        [Test]
        public void ManagedOnlyEnumerationsHaveTheirDocumentedValues()
        {
            object[,] cases = {
                { QORCAM_CAMERATYPE.QORCAM_CAMERANOTYPE, 0 }, { QORCAM_CAMERATYPE.QORCAM_CAMERA1394, 1 },
                { QORCAM_CAMERATYPE.QORCAM_CAMERAGIGE, 2 }, { QORCAM_CAMERATYPE.QORCAM_CAMERAUSB, 3 },
                { QORCAM_FEATURETYPE.QORCAM_INTEGERTYPE, 0 }, { QORCAM_FEATURETYPE.QORCAM_BOOLEANTYPE, 1 },
                { QORCAM_FEATURETYPE.QORCAM_FLOATTYPE, 2 }, { QORCAM_FEATURETYPE.QORCAM_STRINGTYPE, 3 },
                { QORCAM_FEATURETYPE.QORCAM_COMMANDTYPE, 4 }, { QORCAM_FEATURETYPE.QORCAM_ENUMERATIONTYPE, 5 },
                { QORCAM_FEATURETYPE.QORCAM_CATEGORYTYPE, 6 }, { QORCAM_FEATURETYPE.QORCAM_REGISTERTYPE, 7 },
                { QORCAM_ACCESSMODE.QORCAM_NOTIMPLEMENTED, 0 }, { QORCAM_ACCESSMODE.QORCAM_NOTAVAILABLE, 1 },
                { QORCAM_ACCESSMODE.QORCAM_WRITEONLY, 2 }, { QORCAM_ACCESSMODE.QORCAM_READONLY, 3 },
                { QORCAM_ACCESSMODE.QORCAM_READWRITE, 4 },
            };
            for (int i = 0; i < cases.GetLength(0); i++)
                Assert.AreEqual(cases[i, 1], Convert.ToInt32(cases[i, 0]), cases[i, 0].ToString());
            Assert.AreEqual(4, Enum.GetValues(typeof(QORCAM_CAMERATYPE)).Length);
            Assert.AreEqual(8, Enum.GetValues(typeof(QORCAM_FEATURETYPE)).Length);
            Assert.AreEqual(5, Enum.GetValues(typeof(QORCAM_ACCESSMODE)).Length);
            Assert.AreEqual(10106, Constants.LIBRARY_STRUCT_VERSION);
        }
    }
}
