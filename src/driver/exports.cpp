// placeholder replaced by the driver implementation
extern "C" __declspec(dllexport) void* CreateIPCapture() { return nullptr; }
