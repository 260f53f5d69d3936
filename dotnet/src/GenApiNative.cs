// GenApiNative: the node map's flat C interface as the binding's feature access calls it.
using System;
using System.Runtime.InteropServices;

namespace QorCamDotNet
{
    internal static class GenApiNative
    {
        // The camera library exports the node map's C interface, so the maps it hands out are
        // walked by the same code that made them.
        internal const string Library = QorCamNative.Library;
        private const CallingConvention Cdecl = CallingConvention.Cdecl;

        internal const int QGA_OK = 0;
        internal const int QGA_ERR_BUFFER_SHORT = 2;

        internal const int QGA_TEXT_NAME = 0;
        internal const int QGA_TEXT_DISPLAYNAME = 1;
        internal const int QGA_TEXT_DESCRIPTION = 2;
        internal const int QGA_TEXT_TOOLTIP = 3;
        internal const int QGA_TEXT_UNIT = 4;
        internal const int QGA_TEXT_SYMBOLIC = 6;

        // The node's principal interface as the node map reports it.
        internal const int intfIInteger = 2;
        internal const int intfIBoolean = 3;
        internal const int intfICommand = 4;
        internal const int intfIFloat = 5;
        internal const int intfIString = 6;
        internal const int intfIRegister = 7;
        internal const int intfICategory = 8;
        internal const int intfIEnumeration = 9;

        [DllImport(Library, CallingConvention = Cdecl)] internal static extern int QgaOpenXml(byte[] xml, byte[] addon, out IntPtr map);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern int QgaOpenFile(byte[] path, out IntPtr map);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern int QgaClose(IntPtr map);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern int QgaGetNode(IntPtr map, byte[] name, out IntPtr node);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern int QgaGetText(IntPtr node, int which, byte[] buffer, ref UIntPtr size);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern int QgaGetInterfaceType(IntPtr node, out int type);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern int QgaGetAccessMode(IntPtr node, out int mode);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern int QgaGetPollingTime(IntPtr node, out long ms);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern int QgaGetInt(IntPtr node, out long value);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern int QgaSetInt(IntPtr node, long value);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern int QgaGetIntRange(IntPtr node, out long min, out long max, out long inc);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern int QgaGetFloat(IntPtr node, out double value);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern int QgaSetFloat(IntPtr node, double value);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern int QgaGetFloatRange(IntPtr node, out double min, out double max, out int hasInc, out double inc);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern int QgaGetBool(IntPtr node, out int value);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern int QgaSetBool(IntPtr node, int value);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern int QgaGetString(IntPtr node, byte[] buffer, ref UIntPtr size);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern int QgaSetString(IntPtr node, byte[] value);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern int QgaGetStringMaxLength(IntPtr node, out long length);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern int QgaExecute(IntPtr node);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern int QgaGetRegisterInfo(IntPtr node, out long address, out long length);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern int QgaGetRegister(IntPtr node, byte[] buffer, long length);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern int QgaSetRegister(IntPtr node, byte[] buffer, long length);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern int QgaGetEnumEntryCount(IntPtr enumeration, out uint count);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern int QgaGetEnumEntry(IntPtr enumeration, uint index, out IntPtr entry);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern int QgaGetEnumEntryValue(IntPtr entry, out long value);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern int QgaGetFeatureCount(IntPtr category, out uint count);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern int QgaGetFeature(IntPtr category, uint index, out IntPtr feature);
        [DllImport(Library, CallingConvention = Cdecl)] internal static extern int QgaGetLastError(byte[] buffer, ref UIntPtr size);
    }
}
