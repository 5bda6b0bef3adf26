// Where the user's allow-list lives on this platform.
#pragma once

#include <filesystem>

std::filesystem::path allowListLocation();
