#include "adapter/engine_table.h"

namespace adapter {

std::unique_ptr<kxcheck::Table> EngineTableFactory::Create() {
  return std::make_unique<EngineTable>();
}

}  // namespace adapter
