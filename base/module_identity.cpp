#include "base/module_identity.h"

// {6b1f0c3e-9a52-4d17-8e3b-2c4f5a7d9e01}
const CLSID HANDLER_CLSID = {0x6b1f0c3e, 0x9a52, 0x4d17, {0x8e, 0x3b, 0x2c, 0x4f, 0x5a, 0x7d, 0x9e, 0x01}};
const wchar_t HANDLER_CLSID_TEXT[] = L"{6b1f0c3e-9a52-4d17-8e3b-2c4f5a7d9e01}";

HINSTANCE ModuleInstance = nullptr;
