#include "host/xplane.h"

namespace lumo {

std::string pluginDirOf(const std::string& root) { return root + kPluginSubdir; }

std::string xplPath(const std::string& pluginDir) {
  return pluginDir + "/" + kPluginArch + "/" + kPluginFile;
}

}  // namespace lumo
