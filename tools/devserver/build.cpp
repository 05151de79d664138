#include "tools/devserver/devserver.h"

namespace devserver {

#ifndef TL_HAVE_GEOMKIT
bool buildFolder(const BuildOptions&, const std::string&, int& airports, std::string& error) {
  airports = 0;
  error = "built without the reference geometry helper";
  return false;
}
#endif

}  // namespace devserver
