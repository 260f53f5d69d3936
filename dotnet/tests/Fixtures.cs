// Fixtures: a camera object over a node map loaded from a description file, with a memory port.
using System;
using System.IO;
using System.Runtime.InteropServices;
using System.Text;
using NUnit.Framework;

namespace QorCamDotNet.Tests
{
    /// <summary>The node map's C interface calls the tests use beyond what the binding needs, from the
    /// same library as the binding's, so a map the tests open is the one the binding walks.</summary>
    internal static class GenApiTestNative
    {
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        internal delegate int ReadFn(IntPtr context, ulong address, IntPtr buffer, ulong length);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        internal delegate int WriteFn(IntPtr context, ulong address, IntPtr buffer, ulong length);

        [DllImport(GenApiNative.Library, CallingConvention = CallingConvention.Cdecl)]
        internal static extern int QgaConnect(IntPtr map, byte[] portName, ReadFn read, WriteFn write, IntPtr context,
                                              int readOnly);
    }

    /// <summary>A 256-byte device memory behind the description's port "Device"; reads and writes
    /// outside it fail, and the writes are counted.</summary>
    internal sealed class MemoryPort
    {
        internal readonly byte[] Memory = new byte[256];
        internal int Writes;
        internal readonly GenApiTestNative.ReadFn Read;
        internal readonly GenApiTestNative.WriteFn Write;

        internal MemoryPort()
        {
            Read = (ctx, address, buffer, length) => {
                if (address + length > (ulong)Memory.Length) return 1;
                Marshal.Copy(Memory, (int)address, buffer, (int)length);
                return 0;
            };
            Write = (ctx, address, buffer, length) => {
                if (address + length > (ulong)Memory.Length) return 1;
                Marshal.Copy(buffer, Memory, (int)address, (int)length);
                Writes++;
                return 0;
            };
        }

        internal uint At(int address)
        {
            return BitConverter.ToUInt32(Memory, address);
        }
    }

    /// <summary>A camera object that holds a node map opened here in place of a library camera.</summary>
    internal sealed class MapCamera : QORCAM
    {
        internal MapCamera(IntPtr map, bool watch) : base(watch)
        {
            m_hCamera = new IntPtr(1);
            m_pNodeMap = map;
        }

        // There is no library camera behind the handle: nothing to close.
        protected override void Dispose(bool disposing)
        {
            m_hCamera = IntPtr.Zero;
            base.Dispose(disposing);
        }
    }

    /// <summary>The description Features.xml loaded from its file, connected to a fresh memory port.</summary>
    internal sealed class FeatureMap : IDisposable
    {
        internal readonly IntPtr Map;
        internal readonly MemoryPort Port = new MemoryPort();

        internal static string FixturePath(string name)
        {
            string folder = Environment.GetEnvironmentVariable("QORCAM_DOTNET_FIXTURES");
            Assert.IsNotNull(folder, "QORCAM_DOTNET_FIXTURES names the folder of the test descriptions");
            return Path.Combine(folder, name);
        }

        internal FeatureMap()
        {
            IntPtr map;
            Assert.AreEqual(0, GenApiNative.QgaOpenFile(Encoding.UTF8.GetBytes(FixturePath("Features.xml") + "\0"), out map),
                            FeatureNode.LastErrorText());
            Map = map;
            Assert.AreEqual(0, GenApiTestNative.QgaConnect(Map, Encoding.ASCII.GetBytes("Device\0"), Port.Read, Port.Write,
                                                           IntPtr.Zero, 0), FeatureNode.LastErrorText());
        }

        internal MapCamera Camera(bool watch)
        {
            return new MapCamera(Map, watch);
        }

        public void Dispose()
        {
            GenApiNative.QgaClose(Map);
        }
    }
}
