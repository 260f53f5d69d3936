// The producer-wide last error that GCGetLastError reports.
#pragma once

#include "GenTL.h"

#include <string>

namespace GenICam::Client {

// One record per process: the code and text of the last failure of any export. Safe to use from
// several threads; the last writer wins. Absent until the first failure and after Clear().
class CTLIError {
public:
    static void Set(GC_ERROR code, const std::string& text);
    static void Clear();
    // GCGetLastError on the record: never writes more than *size bytes into text.
    static GC_ERROR Get(GC_ERROR* code, char* text, size_t* size);
};

} // namespace GenICam::Client
