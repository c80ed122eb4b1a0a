// Loading the decoder plug-in and finding its entries by name.
#pragma once

#include <cstdint>
#include <string>

class CPDecode;

// sybasetds_parse: frame block, display tree, spare, cursor, remaining count, offset.
using ParseEntry = int32_t (*)(const uint8_t* frame, CPDecode* tree, int32_t spare,
                               const uint8_t** cursor, int32_t remaining, int32_t offset);

struct Plugin {
  void* handle = nullptr;
  ParseEntry parse = nullptr;
  // Another entry by name, or null (for views that use entries of their own).
  void* Find(const char* name) const;
};

// The plug-in installed with the program: beside the executable, or in ../lib/tdsdecode.
std::string DefaultPluginPath();

// False with a reason when the library cannot be loaded or lacks sybasetds_parse.
bool LoadPlugin(const std::string& path, Plugin& plugin, std::string& error);
