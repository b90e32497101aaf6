// A shared object for the library tests: one exported function and one exported counter.
extern "C" __attribute__((visibility("default"))) int zorn_test_library_answer()
{
    return 42;
}

extern "C"
{
    __attribute__((visibility("default"))) int zorn_test_library_loads = 0;
}

namespace
{
struct CountLoads
{
    CountLoads() { ++zorn_test_library_loads; }
};
CountLoads sCountLoads;
} // namespace
