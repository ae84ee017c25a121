#include "base/module_identity.h"

// {6b1f0c3e-9a52-4d17-8e3b-2c4f5a7d9e01}
const CLSID HANDLER_CLSID = {0x6b1f0c3e, 0x9a52, 0x4d17, {0x8e, 0x3b, 0x2c, 0x4f, 0x5a, 0x7d, 0x9e, 0x01}};
const wchar_t HANDLER_CLSID_TEXT[] = L"{6b1f0c3e-9a52-4d17-8e3b-2c4f5a7d9e01}";

// {9e4c2a71-3b5d-4f68-a0c9-1d7e8b3f5a62}
const CLSID COMMAND_CLSID = {0x9e4c2a71, 0x3b5d, 0x4f68, {0xa0, 0xc9, 0x1d, 0x7e, 0x8b, 0x3f, 0x5a, 0x62}};
const wchar_t COMMAND_CLSID_TEXT[] = L"{9e4c2a71-3b5d-4f68-a0c9-1d7e8b3f5a62}";

// {c3a8e5f2-6d1b-4e97-b4a3-5f0c2d9e7b18}
const GUID COMMAND_CANONICAL_NAME = {0xc3a8e5f2, 0x6d1b, 0x4e97, {0xb4, 0xa3, 0x5f, 0x0c, 0x2d, 0x9e, 0x7b, 0x18}};

HINSTANCE ModuleInstance = nullptr;
