// Constants: the library-wide constants a managed program passes to the library.
namespace QorCamDotNet
{
    public class Constants
    {
        /// <summary>The structure version every program hands to QORCAM.SetStructVersion first.</summary>
        public const int LIBRARY_STRUCT_VERSION = 10106;
    }
}
