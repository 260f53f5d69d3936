// Registry of the live module and event objects that GenTL handles may point to.
#pragma once

namespace GenICam::Client {

class ICommonBase;
class CEventObj;

// Every module object and every event object is listed here from its construction to its destruction.
// A handle from the consumer is only ever dereferenced after it was found here, so a stale or garbage
// handle is refused instead of being used.
namespace HandleRegistry {

void AddModule(ICommonBase* module);
void RemoveModule(ICommonBase* module);
// The live module whose handle value is `handle`, or null.
ICommonBase* FindModule(const void* handle);

void AddEvent(CEventObj* event);
void RemoveEvent(CEventObj* event);
// The live event object whose handle value is `handle`, or null.
CEventObj* FindEvent(const void* handle);

} // namespace HandleRegistry
} // namespace GenICam::Client
