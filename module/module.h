#pragma once
// The count of live factories, handlers and commands, which DllCanUnloadNow
// answers from. Objects of every apartment of the process change it, so it
// moves only through these interlocked calls.
#include <windows.h>

void ModuleObjectCreated();
void ModuleObjectDestroyed();
LONG ModuleObjectCount();
