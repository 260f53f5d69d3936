// AssemblyInfo: the binding's assembly identity; the test assembly may reach its internals.
using System.Reflection;
using System.Runtime.CompilerServices;

[assembly: AssemblyTitle("QorCamDotNet")]
[assembly: AssemblyDescription("Managed binding of the QorCam camera library")]
[assembly: AssemblyVersion("1.0.1.6")]
[assembly: InternalsVisibleTo("QorCamDotNetTests")]
