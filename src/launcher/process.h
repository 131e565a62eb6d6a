// Process-wide objects of the launcher, published by the entry function.
#pragma once

namespace vxo {

class ConfigStore;
class InstanceManager;
struct JvmHolder;

struct Process {
    static ConfigStore* store;        // set after start-up step 5, cleared after the launch
    static JvmHolder* holder;         // same
    static InstanceManager* instances;  // set with the others, never cleared
};

}  // namespace vxo
