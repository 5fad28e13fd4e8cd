#include "com/module.h"

namespace kvshake {

CMySolutionPluginModule& Module() noexcept {
    static CMySolutionPluginModule module;
    return module;
}

}  // namespace kvshake
