// Looking up a bare program name on PATH, the way a shell does.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Every executable regular file called `name` in the folders of PATH, in PATH order, each as
// folder + '/' + name. An empty PATH entry stands for the working directory.
std::vector<std::string> executablesOnPath(const std::string& name);

}  // namespace platform
