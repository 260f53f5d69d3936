// QORCAM.Features: features of the camera's node map by name: lists, descriptions, access and values.
using System;
using System.Collections.Generic;

namespace QorCamDotNet
{
    /// <summary>Feature access works on the node map the library built for the camera and takes no
    /// lock around it. The getters, the lists, FeatureInfo and AccessMode let a failure of the node
    /// map reach the caller as an exception; the setters report any failure as false. None of them
    /// sets a library error.</summary>
    public partial class QORCAM
    {
        // Features the acquisition is driven by through the binding's own methods.
        private static readonly String[] HiddenFeatures = { "TLParamsLocked", "AcquisitionStart", "AcquisitionStop" };

        /// <summary>The node of that name; none without a camera, for a null or empty name, or an unknown one.</summary>
        private bool Lookup(String name, out FeatureNode node)
        {
            node = new FeatureNode(IntPtr.Zero);
            if (m_hCamera == IntPtr.Zero || m_pNodeMap == IntPtr.Zero) return false;
            return FeatureNode.Find(m_pNodeMap, name, out node);
        }

        private static QORCAM_FEATURETYPE? FeatureType(int kind)
        {
            switch (kind) {
            case GenApiNative.intfIInteger: return QORCAM_FEATURETYPE.QORCAM_INTEGERTYPE;
            case GenApiNative.intfIBoolean: return QORCAM_FEATURETYPE.QORCAM_BOOLEANTYPE;
            case GenApiNative.intfICommand: return QORCAM_FEATURETYPE.QORCAM_COMMANDTYPE;
            case GenApiNative.intfIFloat: return QORCAM_FEATURETYPE.QORCAM_FLOATTYPE;
            case GenApiNative.intfIString: return QORCAM_FEATURETYPE.QORCAM_STRINGTYPE;
            case GenApiNative.intfIRegister: return QORCAM_FEATURETYPE.QORCAM_REGISTERTYPE;
            case GenApiNative.intfICategory: return QORCAM_FEATURETYPE.QORCAM_CATEGORYTYPE;
            case GenApiNative.intfIEnumeration: return QORCAM_FEATURETYPE.QORCAM_ENUMERATIONTYPE;
            default: return null;
            }
        }

        /// <summary>The names of the root category's features, in its order, none left out.
        /// A map without a category named "Root" raises the node map's logical error.</summary>
        public bool CategoryList(out String[] CategoryList)
        {
            CategoryList = null;
            if (m_hCamera == IntPtr.Zero || m_pNodeMap == IntPtr.Zero) return false;
            FeatureNode root;
            if (!FeatureNode.Find(m_pNodeMap, "Root", out root) || root.Kind != GenApiNative.intfICategory)
                throw new System.Runtime.InteropServices.SEHException("NULL pointer dereferenced");
            FeatureNode[] features = root.Features();
            String[] names = new String[features.Length];
            for (int i = 0; i < features.Length; i++) names[i] = features[i].Text(GenApiNative.QGA_TEXT_NAME);
            CategoryList = names;
            return true;
        }

        public bool FeatureList(String Category, out QORCAM_FEATURE[] FeatureList)
        {
            FeatureList = null;
            FeatureNode category;
            if (!Lookup(Category, out category) || category.Kind != GenApiNative.intfICategory) return false;
            List<QORCAM_FEATURE> list = new List<QORCAM_FEATURE>();
            foreach (FeatureNode feature in category.Features()) {
                String name = feature.Text(GenApiNative.QGA_TEXT_NAME);
                if (Array.IndexOf(HiddenFeatures, name) >= 0) continue;
                QORCAM_FEATURE f = new QORCAM_FEATURE();
                QORCAM_FEATURETYPE? type = FeatureType(feature.Kind);
                if (type.HasValue) f.FType = type.Value;
                f.FeatureName = name;
                list.Add(f);
            }
            FeatureList = list.ToArray();
            return true;
        }

        private bool AvailableEntries(String Enum, out FeatureNode[] entries)
        {
            entries = null;
            FeatureNode enumeration;
            if (!Lookup(Enum, out enumeration) || enumeration.Kind != GenApiNative.intfIEnumeration) return false;
            List<FeatureNode> available = new List<FeatureNode>();
            foreach (FeatureNode entry in enumeration.Entries())
                if (entry.IsAvailable) available.Add(entry);
            entries = available.ToArray();
            return true;
        }

        public bool EnumEntryList(String Enum, out String[] EntryList)
        {
            EntryList = null;
            FeatureNode[] entries;
            if (!AvailableEntries(Enum, out entries)) return false;
            String[] names = new String[entries.Length];
            for (int i = 0; i < entries.Length; i++) names[i] = entries[i].Text(GenApiNative.QGA_TEXT_SYMBOLIC);
            EntryList = names;
            return true;
        }

        public bool EnumEntryList(String Enum, out QORCAM_ENTRYINFO[] EntryList)
        {
            EntryList = null;
            FeatureNode[] entries;
            if (!AvailableEntries(Enum, out entries)) return false;
            QORCAM_ENTRYINFO[] infos = new QORCAM_ENTRYINFO[entries.Length];
            for (int i = 0; i < entries.Length; i++) {
                FeatureNode e = entries[i];
                infos[i].SymbolName = e.Text(GenApiNative.QGA_TEXT_SYMBOLIC);
                infos[i].DisplayName = e.Text(GenApiNative.QGA_TEXT_DISPLAYNAME);
                infos[i].Description = e.Text(GenApiNative.QGA_TEXT_DESCRIPTION);
                infos[i].ToolTip = e.Text(GenApiNative.QGA_TEXT_TOOLTIP);
                long value;
                FeatureNode.Check(GenApiNative.QgaGetEnumEntryValue(e.Handle, out value));
                infos[i].Value = unchecked((UInt64)value);
            }
            EntryList = infos;
            return true;
        }

        public bool FeatureInfo(String Feature, ref QORCAM_FEATUREINFO Info)
        {
            FeatureNode node;
            if (!Lookup(Feature, out node) || !node.IsAvailable) return false;
            Info.DisplayName = node.Text(GenApiNative.QGA_TEXT_DISPLAYNAME);
            Info.Description = node.Text(GenApiNative.QGA_TEXT_DESCRIPTION);
            Info.ToolTip = node.Text(GenApiNative.QGA_TEXT_TOOLTIP);
            long polling;
            FeatureNode.Check(GenApiNative.QgaGetPollingTime(node.Handle, out polling));
            Info.PollingTime = unchecked((UInt64)polling);
            int kind = node.Kind;
            QORCAM_FEATURETYPE? type = FeatureType(kind);
            if (type.HasValue) Info.FType = type.Value;
            switch (kind) {
            case GenApiNative.intfIInteger: {
                QORCAM_INTREG r = new QORCAM_INTREG();
                FeatureNode.Check(GenApiNative.QgaGetIntRange(node.Handle, out r.MinValue, out r.MaxValue, out r.IncValue));
                r.Unit = node.Text(GenApiNative.QGA_TEXT_UNIT);
                Info.IntReg = r;
                break;
            }
            case GenApiNative.intfIFloat: {
                QORCAM_FLOATREG r = new QORCAM_FLOATREG();
                int hasInc;
                FeatureNode.Check(GenApiNative.QgaGetFloatRange(node.Handle, out r.MinValue, out r.MaxValue, out hasInc,
                                                                out r.IncValue));
                r.HasInc = hasInc != 0;
                if (!r.HasInc) r.IncValue = 0.0;
                r.Unit = node.Text(GenApiNative.QGA_TEXT_UNIT);
                Info.FloatReg = r;
                break;
            }
            case GenApiNative.intfIString: {
                long max;
                FeatureNode.Check(GenApiNative.QgaGetStringMaxLength(node.Handle, out max));
                QORCAM_STRINGREG r = new QORCAM_STRINGREG();
                r.MaxLength = unchecked((UInt64)max);
                Info.StringReg = r;
                break;
            }
            case GenApiNative.intfIRegister: {
                long address, length;
                FeatureNode.Check(GenApiNative.QgaGetRegisterInfo(node.Handle, out address, out length));
                QORCAM_REG r = new QORCAM_REG();
                r.Addr = address;
                r.Length = unchecked((UInt64)length);
                Info.Reg = r;
                break;
            }
            }
            return true;
        }

        /// <summary>The node's access mode; availability is not tested. A mode the node map leaves
        /// undefined gives true with Mode at its default (an out value cannot keep the caller's).</summary>
        public bool AccessMode(String Feature, out QORCAM_ACCESSMODE Mode)
        {
            Mode = QORCAM_ACCESSMODE.QORCAM_NOTIMPLEMENTED;
            FeatureNode node;
            if (!Lookup(Feature, out node)) return false;
            int mode = node.Access;
            if (mode < FeatureNode.NI || mode > FeatureNode.RW) return true;
            Mode = (QORCAM_ACCESSMODE)mode;
            return true;
        }

        public bool IsAvailable(String Name)
        {
            FeatureNode node;
            return Lookup(Name, out node) && node.IsAvailable;
        }

        public bool IsWritable(String Name)
        {
            FeatureNode node;
            return !m_Watch_Flag && Lookup(Name, out node) && node.IsWritable;
        }

        public bool IsReadable(String Name)
        {
            FeatureNode node;
            return !m_Watch_Flag && Lookup(Name, out node) && node.IsReadable;
        }

        // ---- Reading ---------------------------------------------------------------------------

        /// <summary>The node of that name when it is available and readable and of one of the kinds.</summary>
        private bool Readable(String Feature, out FeatureNode node, out int kind, params int[] kinds)
        {
            kind = -1;
            if (!Lookup(Feature, out node) || !node.IsAvailable || !node.IsReadable) return false;
            kind = node.Kind;
            return Array.IndexOf(kinds, kind) >= 0;
        }

        public bool GetValue(String Feature, out bool Value)
        {
            Value = false;
            FeatureNode node;
            int kind;
            if (!Readable(Feature, out node, out kind, GenApiNative.intfIBoolean)) return false;
            int v;
            FeatureNode.Check(GenApiNative.QgaGetBool(node.Handle, out v));
            Value = v != 0;
            return true;
        }

        public bool GetValue(String Feature, out Byte[] Value)
        {
            Value = null;
            FeatureNode node;
            int kind;
            if (!Readable(Feature, out node, out kind, GenApiNative.intfIRegister)) return false;
            long address, length;
            FeatureNode.Check(GenApiNative.QgaGetRegisterInfo(node.Handle, out address, out length));
            // The length comes from the description: one that no array can hold is refused.
            if (length < 0 || length > Int32.MaxValue) return false;
            Byte[] bytes = new Byte[length];
            FeatureNode.Check(GenApiNative.QgaGetRegister(node.Handle, bytes, length));
            Value = bytes;
            return true;
        }

        public bool GetValue(String Feature, out String Value)
        {
            Value = null;
            FeatureNode node;
            int kind;
            if (!Readable(Feature, out node, out kind, GenApiNative.intfIString, GenApiNative.intfIEnumeration))
                return false;
            Value = node.StringValue();
            return true;
        }

        public bool GetValue(String Feature, out Double Value)
        {
            Value = 0.0;
            FeatureNode node;
            int kind;
            if (!Readable(Feature, out node, out kind, GenApiNative.intfIFloat)) return false;
            FeatureNode.Check(GenApiNative.QgaGetFloat(node.Handle, out Value));
            return true;
        }

        /// <summary>An integer, an enumeration's entry value, or a float truncated toward zero; a float
        /// that no 64-bit integer holds (or not a number) gives false.</summary>
        public bool GetValue(String Feature, out Int64 Value)
        {
            Value = 0;
            FeatureNode node;
            int kind;
            if (!Readable(Feature, out node, out kind, GenApiNative.intfIInteger, GenApiNative.intfIFloat,
                          GenApiNative.intfIEnumeration))
                return false;
            if (kind == GenApiNative.intfIFloat) {
                double d;
                FeatureNode.Check(GenApiNative.QgaGetFloat(node.Handle, out d));
                double t = Math.Truncate(d);
                if (!(t >= -9223372036854775808.0 && t < 9223372036854775808.0)) return false;
                Value = (Int64)t;
                return true;
            }
            FeatureNode.Check(GenApiNative.QgaGetInt(node.Handle, out Value));
            return true;
        }

        // ---- Writing ---------------------------------------------------------------------------

        /// <summary>Runs a write on a writable node of one of the kinds; any failure is false.</summary>
        private bool Write(String Feature, Func<FeatureNode, int, int> write, params int[] kinds)
        {
            if (m_Watch_Flag) return false;
            try {
                FeatureNode node;
                if (!Lookup(Feature, out node) || !node.IsWritable) return false;
                int kind = node.Kind;
                if (Array.IndexOf(kinds, kind) < 0) return false;
                return write(node, kind) == GenApiNative.QGA_OK;
            } catch (Exception) {
                return false;
            }
        }

        public bool SetValue(String Feature)
        {
            return Write(Feature, (n, k) => GenApiNative.QgaExecute(n.Handle), GenApiNative.intfICommand);
        }

        public bool SetValue(String Feature, bool Value)
        {
            return Write(Feature, (n, k) => GenApiNative.QgaSetBool(n.Handle, Value ? 1 : 0), GenApiNative.intfIBoolean);
        }

        /// <summary>Writes as many bytes as both the register and the array hold; an empty array writes nothing.</summary>
        public bool SetValue(String Feature, Byte[] Value)
        {
            return Write(Feature, (n, k) => {
                if (Value == null || Value.Length == 0) return GenApiNative.QGA_OK;
                long address, length;
                int code = GenApiNative.QgaGetRegisterInfo(n.Handle, out address, out length);
                if (code != GenApiNative.QGA_OK) return code;
                return GenApiNative.QgaSetRegister(n.Handle, Value, Math.Min(length, (long)Value.Length));
            }, GenApiNative.intfIRegister);
        }

        public bool SetValue(String Feature, String Value)
        {
            byte[] text = NativeText.Ascii(Value);
            return Write(Feature, (n, k) => GenApiNative.QgaSetString(n.Handle, text), GenApiNative.intfIString,
                         GenApiNative.intfIEnumeration);
        }

        public bool SetValue(String Feature, Double Value)
        {
            return Write(Feature, (n, k) => GenApiNative.QgaSetFloat(n.Handle, Value), GenApiNative.intfIFloat);
        }

        public bool SetValue(String Feature, Int64 Value)
        {
            return Write(Feature, (n, k) => GenApiNative.QgaSetInt(n.Handle, Value), GenApiNative.intfIInteger,
                         GenApiNative.intfIFloat, GenApiNative.intfIEnumeration);
        }
    }
}
