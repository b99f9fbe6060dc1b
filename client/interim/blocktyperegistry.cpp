// Interim world factory and block-type registry: no pools, no block types.
#include "client/blocktyperegistry.h"

#include "client/clientlogger.h"

namespace tavrix::worldFactory {
void init()
{
    CLIENT_LOG(util::LOG_INFO, "worldFactory: interim version - no pools\n");
}
void final() {}
} // namespace tavrix::worldFactory

namespace tavrix::blockTypeRegistry {
void init()
{
    CLIENT_LOG(util::LOG_INFO, "blockTypeRegistry: interim version - no block types\n");
}
void final() {}
} // namespace tavrix::blockTypeRegistry
