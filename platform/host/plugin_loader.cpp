#include "plugin_loader.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include "tdsengine/constant_text.h"

namespace {

const char kPluginFile[] = "libsybasetds.so";

std::string ExecutableDirectory() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0) return ".";
  std::string p(path, static_cast<size_t>(n));
  const size_t slash = p.rfind('/');
  return slash == std::string::npos ? "." : p.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace

void* Plugin::Find(const char* name) const {
  return handle ? dlsym(handle, name) : nullptr;
}

std::string DefaultPluginPath() {
  const std::string dir = ExecutableDirectory();
  const std::string beside = dir + "/" + kPluginFile;
  if (access(beside.c_str(), F_OK) == 0) return beside;
  const std::string installed = dir + "/../lib/tdsdecode/" + kPluginFile;
  if (access(installed.c_str(), F_OK) == 0) return installed;
  return beside;
}

bool LoadPlugin(const std::string& path, Plugin& plugin, std::string& error) {
  // A bare file name would make dlopen search the library path; a path is meant as given.
  const std::string name = path.find('/') == std::string::npos ? "./" + path : path;
  void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    error = why ? why : "cannot be loaded";
    return false;
  }
  dlerror();
  void* entry = dlsym(handle, "sybasetds_parse");
  if (!entry) {
    error = "no entry sybasetds_parse in the library";
    dlclose(handle);
    return false;
  }
  plugin.handle = handle;
  plugin.parse = reinterpret_cast<ParseEntry>(entry);
  // The plug-in stays loaded to the end of the run: its labels, notes and tables are constants
  // whose escaped forms the renderers may keep.
  AddConstantModule(entry);
  return true;
}
