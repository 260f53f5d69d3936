// GenApiCExports: anchors the node map's C interface in libQorCamGenApiC.so; the entry points come whole from
// qorcam_genapi.
#include "genapi/GenApiC.h"

// A reference keeps the linker honest even if the archive were not taken whole.
[[maybe_unused]] static auto* const anchor = &QgaGetLastError;
