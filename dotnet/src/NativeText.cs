// NativeText: zero-terminated 8-bit texts of the library's fixed-size fields, both ways.
using System;
using System.Text;

namespace QorCamDotNet
{
    internal static class NativeText
    {
        /// <summary>The text up to the first zero byte, and never past the field's own length
        /// (a field filled to its end has no zero). Bytes are taken in the system's code page.</summary>
        internal static unsafe String Read(byte* field, int length)
        {
            int n = 0;
            while (n < length && field[n] != 0) n++;
            return n == 0 ? String.Empty : new String((sbyte*)field, 0, n, Encoding.Default);
        }

        /// <summary>The name as 8-bit ASCII (other characters become '?'), zero-terminated.</summary>
        internal static byte[] Ascii(String text)
        {
            byte[] bytes = Encoding.ASCII.GetBytes(text ?? String.Empty);
            byte[] terminated = new byte[bytes.Length + 1];
            Buffer.BlockCopy(bytes, 0, terminated, 0, bytes.Length);
            return terminated;
        }

        /// <summary>Writes text as ASCII into a field, zero-filled, always leaving the last byte zero.</summary>
        internal static unsafe void WriteAscii(byte* field, int length, String text)
        {
            for (int i = 0; i < length; i++) field[i] = 0;
            byte[] bytes = Encoding.ASCII.GetBytes(text ?? String.Empty);
            int n = Math.Min(bytes.Length, length - 1);
            for (int i = 0; i < n; i++) field[i] = bytes[i];
        }
    }
}
