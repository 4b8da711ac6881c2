// An otherwise empty DLL: the tag reader tests stamp copies of it and load them,
// so that GetTag sees a module loaded from a tagged file.

extern "C" __declspec(dllexport) int TagTestModuleMarker() { return 0x7A6; }
