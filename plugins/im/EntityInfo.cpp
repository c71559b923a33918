#include "plugins/im/EntityInfo.h"

#include "plugins/im/SqlEntitySet.h"

namespace KvoPluginIm {

EntityInfo::~EntityInfo() {
    if (m_ownsEntitySet) delete m_entitySet;
}

}  // namespace KvoPluginIm
