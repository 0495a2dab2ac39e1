// Static rescue builds have no dynamic loader to load the service-processor
// driver libraries with (the C library's static dlopen needs its own exact
// shared build at run time). They are linked with --wrap=dlopen, so every
// library is reported absent here and the host object takes its fallback, as
// on a machine without the libraries.
extern "C" void* __wrap_dlopen(const char*, int) { return nullptr; }
