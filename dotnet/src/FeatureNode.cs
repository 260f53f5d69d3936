// FeatureNode: one node of a node map reached through the map's C interface; failures become exceptions.
using System;
using System.Runtime.InteropServices;
using System.Text;

namespace QorCamDotNet
{
    /// <summary>A node of the camera's map. Every read that the node map refuses raises the runtime's
    /// exception for a native failure (SEHException) carrying the node map's own text.</summary>
    internal struct FeatureNode
    {
        // Access modes as the node map reports them.
        internal const int NI = 0, NA = 1, WO = 2, RO = 3, RW = 4;

        internal readonly IntPtr Handle;

        internal FeatureNode(IntPtr handle)
        {
            Handle = handle;
        }

        /// <summary>The node of that name, or none when the name is null, empty or unknown.</summary>
        internal static bool Find(IntPtr map, String name, out FeatureNode node)
        {
            node = new FeatureNode(IntPtr.Zero);
            if (map == IntPtr.Zero || String.IsNullOrEmpty(name)) return false;
            IntPtr handle;
            if (GenApiNative.QgaGetNode(map, NativeText.Ascii(name), out handle) != GenApiNative.QGA_OK ||
                handle == IntPtr.Zero)
                return false;
            node = new FeatureNode(handle);
            return true;
        }

        internal static void Check(int code)
        {
            if (code != GenApiNative.QGA_OK) throw new SEHException(LastErrorText());
        }

        internal static String LastErrorText()
        {
            byte[] buffer = new byte[512];
            UIntPtr size = new UIntPtr((uint)buffer.Length);
            GenApiNative.QgaGetLastError(buffer, ref size);
            return Decode(buffer);
        }

        private static String Decode(byte[] buffer)
        {
            int n = Array.IndexOf(buffer, (byte)0);
            return Encoding.Default.GetString(buffer, 0, n < 0 ? buffer.Length : n);
        }

        internal delegate int TextCall(byte[] buffer, ref UIntPtr size);

        /// <summary>A text by the interface's size rule: a short buffer is told the size it needs.</summary>
        internal static String ReadText(TextCall call)
        {
            byte[] buffer = new byte[256];
            for (int attempt = 0; attempt < 4; attempt++) {
                UIntPtr size = new UIntPtr((uint)buffer.Length);
                int code = call(buffer, ref size);
                if (code == GenApiNative.QGA_OK) return Decode(buffer);
                if (code != GenApiNative.QGA_ERR_BUFFER_SHORT) Check(code);
                ulong needed = size.ToUInt64();
                if (needed <= (ulong)buffer.Length || needed > Int32.MaxValue) break;
                buffer = new byte[needed];
            }
            throw new SEHException("text of a node too long to read");
        }

        internal String Text(int which)
        {
            IntPtr h = Handle;
            return ReadText((byte[] b, ref UIntPtr s) => GenApiNative.QgaGetText(h, which, b, ref s));
        }

        internal int Kind
        {
            get {
                int type;
                Check(GenApiNative.QgaGetInterfaceType(Handle, out type));
                return type;
            }
        }

        internal int Access
        {
            get {
                int mode;
                Check(GenApiNative.QgaGetAccessMode(Handle, out mode));
                return mode;
            }
        }

        internal bool IsAvailable
        {
            get {
                int mode = Access;
                return mode == RO || mode == RW || mode == WO;
            }
        }

        internal bool IsReadable
        {
            get {
                int mode = Access;
                return mode == RO || mode == RW;
            }
        }

        internal bool IsWritable
        {
            get {
                int mode = Access;
                return mode == WO || mode == RW;
            }
        }

        internal FeatureNode[] Features()
        {
            uint count;
            Check(GenApiNative.QgaGetFeatureCount(Handle, out count));
            FeatureNode[] nodes = new FeatureNode[count];
            for (uint i = 0; i < count; i++) {
                IntPtr feature;
                Check(GenApiNative.QgaGetFeature(Handle, i, out feature));
                nodes[i] = new FeatureNode(feature);
            }
            return nodes;
        }

        internal FeatureNode[] Entries()
        {
            uint count;
            Check(GenApiNative.QgaGetEnumEntryCount(Handle, out count));
            FeatureNode[] nodes = new FeatureNode[count];
            for (uint i = 0; i < count; i++) {
                IntPtr entry;
                Check(GenApiNative.QgaGetEnumEntry(Handle, i, out entry));
                nodes[i] = new FeatureNode(entry);
            }
            return nodes;
        }

        internal String StringValue()
        {
            IntPtr h = Handle;
            return ReadText((byte[] b, ref UIntPtr s) => GenApiNative.QgaGetString(h, b, ref s));
        }
    }
}
