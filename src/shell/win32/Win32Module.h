// What the Windows windows of both executables share: the module that holds
// their classes and resources, and the text conversion for their titles.
#pragma once

#include <windows.h>

#include <string>

// Set once by each executable's entry point, before any window is made.
extern HINSTANCE appInstance;

// UTF-8 to the UTF-16 that window titles and message boxes take.
std::wstring widen(const std::string& text);
