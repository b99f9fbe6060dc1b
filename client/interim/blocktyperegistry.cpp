// Interim world factory and block-type registry: no pools, no block types.
#include "client/blocktyperegistry.h"

#include "client/clientlogger.h"

namespace tavrix::worldFactory {
void init()
{
    getLogger()->logEx(util::LOG_INFO, __FILE__, __LINE__, TAVRIX_FUNC, "worldFactory: interim version - no pools\n");
}
void final() {}
} // namespace tavrix::worldFactory

namespace tavrix::blockTypeRegistry {
void init()
{
    getLogger()->logEx(util::LOG_INFO, __FILE__, __LINE__, TAVRIX_FUNC, "blockTypeRegistry: interim version - no block types\n");
}
void final() {}
} // namespace tavrix::blockTypeRegistry
