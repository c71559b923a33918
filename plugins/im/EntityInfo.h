// EntityInfo: one entity row recorded by the running scan, with the entity-set
// row it belongs to (loaded from the same joined row). A batch of them, one per
// matching entity set of one key, is what a scanner gathers attributes for.
#pragma once

#include <memory>
#include <vector>

#include "plugins/im/SqlEntity.h"

namespace KvoPluginIm {

class CSqlEntitySet;

class EntityInfo {
public:
    // Takes ownership of set when ownsSet is true.
    EntityInfo(CSqlEntitySet* set, bool ownsSet) : m_ownsEntitySet(ownsSet), m_entitySet(set) {}
    ~EntityInfo();
    EntityInfo(const EntityInfo&) = delete;
    EntityInfo& operator=(const EntityInfo&) = delete;

    bool m_ownsEntitySet;
    CSqlEntity m_entity;
    CSqlEntitySet* m_entitySet;
};

using EntityInfoList = std::vector<std::unique_ptr<EntityInfo>>;

}  // namespace KvoPluginIm
